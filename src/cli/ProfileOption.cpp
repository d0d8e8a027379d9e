#include "cli/ProfileOption.h"

#include <CLI/CLI.hpp>

namespace lumetra {

namespace {

struct NumberOption {
    const char* name;
    float Parameters::*member;
};
constexpr NumberOption kNumberOptions[] = {
    {"--alpha", &Parameters::alpha}, {"--beta", &Parameters::beta}, {"--co", &Parameters::co}};

struct SwitchOption {
    const char* name;
    bool Parameters::*member;
};
constexpr SwitchOption kSwitchOptions[] = {
    {"--intra-a", &Parameters::intraA},   {"--inter-a", &Parameters::interA},
    {"--intra-c1", &Parameters::intraC1}, {"--inter-c1", &Parameters::interC1},
    {"--intra-c2", &Parameters::intraC2}, {"--inter-c2", &Parameters::interC2}};

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
    for (const NumberOption& option : kNumberOptions) {
        if (app.count(option.name) > 0) p.*(option.member) = given.*(option.member);
    }
    for (const SwitchOption& option : kSwitchOptions) {
        if (app.count(option.name) > 0) p.*(option.member) = given.*(option.member);
    }
    p.mapping = mappingWithOptions(profile.parameters.mapping, givenLine, app);
    return p;
}

Profile loadProfileAsUsage(const std::string& path) {
    try {
        return loadProfile(path);
    } catch (const ProfileError& e) {
        throw CLI::ValidationError(std::string("lumetra: ") + e.what());
    }
}

}  // namespace lumetra
