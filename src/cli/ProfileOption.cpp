#include "cli/ProfileOption.h"

#include <CLI/CLI.hpp>

namespace lumetra {

namespace {

constexpr const char* kSlope = "--slope";
constexpr const char* kOffset = "--offset";

ScoreMapping mappingWithOptions(const ScoreMapping& profile, const LinearMapping& givenLine,
                                const CLI::App& app) {
    const bool slope = app.count(kSlope) > 0;
    const bool offset = app.count(kOffset) > 0;
    if (const auto* line = std::get_if<LinearMapping>(&profile)) {
        return LinearMapping{slope ? givenLine.a : line->a, offset ? givenLine.b : line->b};
    }
    if (slope && offset) return givenLine;
    if (slope || offset) {
        throw CLI::ValidationError(
            "lumetra: the profile scores with a logistic curve; -a/--slope and -b/--offset "
            "replace it by a line only when both are given");
    }
    return profile;
}

}  // namespace

Parameters profileWithOptions(const Profile& profile, const Parameters& given,
                              const LinearMapping& givenLine, const CLI::App& app) {
    Parameters p = profile.parameters;
    for (const NumberField& field : kNumberFields) {
        if (app.count("--" + optionNameOf(field.key)) > 0) p.*field.member = given.*field.member;
    }
    for (const SwitchField& field : kSwitchFields) {
        if (app.count("--" + optionNameOf(field.key)) > 0) p.*field.member = given.*field.member;
    }
    p.mapping = mappingWithOptions(profile.parameters.mapping, givenLine, app);
    return p;
}

std::string optionNameOf(std::string_view key) {
    std::string name(key);
    for (char& c : name) {
        if (c == '_') c = '-';
    }
    return name;
}

Profile loadProfileAsUsage(const std::string& path) {
    try {
        return loadProfile(path);
    } catch (const ProfileError& e) {
        throw CLI::ValidationError(std::string("lumetra: ") + e.what());
    }
}

}  // namespace lumetra
