#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/Profile.h"
#include "image/Error.h"

namespace lumetra {
namespace {

// A profile as the fit writes one: every section, a logistic mapping per file.
constexpr const char* kFitted = R"({
  "format": "lumetra-profile",
  "format_version": 1,
  "lumetra_version": "0.1.0",
  "parameters": {
    "alpha": 1.25, "beta": 3.5, "co": 4.0,
    "intra_a": true, "inter_a": false, "intra_c1": false,
    "inter_c1": true, "intra_c2": true, "inter_c2": false
  },
  "viewing": { "ppd": 44.26 },
  "mapping": { "kind": "logistic", "b1": 1.1, "b2": 4.9, "b3": 800.0, "b4": 150.0 },
  "data": {
    "files": [ { "file": "scores.csv", "pairs": 200, "references": 20,
                 "mapping": { "kind": "linear", "a": 0.0009, "b": 4.1 } } ],
    "pairs": 200,
    "references": 20
  },
  "figures": {
    "train": { "srocc": 0.93, "plcc": 0.92, "krocc": 0.78, "rmse": 0.41 },
    "cv": null
  }
})";

TEST(Profile, ReadsEverySection) {
    const Profile profile = parseProfile(kFitted, "fit.json");
    const Parameters& p = profile.parameters;
    EXPECT_EQ(p.alpha, 1.25f);
    EXPECT_EQ(p.beta, 3.5f);
    EXPECT_EQ(p.co, 4.0f);
    EXPECT_FALSE(p.intraC1);
    EXPECT_TRUE(p.interC1);
    EXPECT_EQ(p.pixelsPerDegree, 44.26);
    EXPECT_EQ(p.mapping, ScoreMapping(LogisticMapping{1.1, 4.9, 800.0, 150.0}));
    EXPECT_EQ(profile.lumetraVersion, "0.1.0");
    ASSERT_TRUE(profile.data);
    ASSERT_EQ(profile.data->files.size(), 1u);
    EXPECT_EQ(profile.data->files[0].file, "scores.csv");
    EXPECT_EQ(profile.data->files[0].mapping, ScoreMapping(LinearMapping{0.0009f, 4.1f}));
    ASSERT_TRUE(profile.figures);
    EXPECT_EQ(profile.figures->train.srocc, 0.93);
    EXPECT_FALSE(profile.figures->cv);
}

TEST(Profile, MissingParametersKeepTheirDefaults) {
    const Profile profile = parseProfile(R"({"format": "lumetra-profile", "format_version": 1,
        "parameters": {}, "viewing": {"ppd": 60}, "mapping": {"kind": "linear", "a": 0.000751,
        "b": 3.8}})",
                                         "plain.json");
    EXPECT_EQ(profile.parameters, Parameters{});
    EXPECT_FALSE(profile.data);
    EXPECT_FALSE(profile.figures);
}

// Values whose shortest text is long or whose float differs from the text's double: each must
// come back as the same bits.
TEST(Profile, RoundTripIsExact) {
    Profile profile = parseProfile(kFitted, "fit.json");
    profile.parameters.alpha = 0.1f;
    profile.parameters.beta = 3.40282347e38f;
    profile.parameters.co = 1.0f / 3.0f;
    profile.parameters.pixelsPerDegree = 44.262737023549906;
    profile.parameters.mapping = LogisticMapping{1.0 / 3.0, 4.999999999999999, -1e-300, 2.5e300};
    profile.data->files[0].mapping = LinearMapping{-1.0f / 7.0f, 3.8f};
    profile.figures->cv = FitFigures{0.5, std::nullopt, -0.25, 1e-9};
    const std::string text = profileJson(profile);
    EXPECT_EQ(parseProfile(text, "again.json"), profile) << text;
    EXPECT_EQ(profileJson(parseProfile(text, "again.json")), text);
    // Floats are written with their own shortest digits.
    EXPECT_NE(text.find("\"alpha\": 0.1,"), std::string::npos) << text;
}

TEST(Profile, SavesAtomicallyAndLoadsBack) {
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "profile-save";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "fit.json").string();
    const Profile profile = parseProfile(kFitted, "fit.json");
    saveProfile(path, profile);
    EXPECT_EQ(loadProfile(path), profile);
    std::filesystem::remove_all(dir);
}

TEST(Profile, UnreadableFileNamesItsPath) {
    try {
        loadProfile("/nonexistent/fit.json");
        FAIL() << "loaded a file that does not exist";
    } catch (const ProfileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("/nonexistent/fit.json: cannot open the profile", 0),
                  0u)
            << e.what();
    }
}

TEST(Profile, TextThatIsNotJsonSaysWhere) {
    try {
        parseProfile("{\n  format: 1}", "fit.json");
        FAIL() << "accepted text that is not JSON";
    } catch (const ProfileError& e) {
        // The rest of the message is the JSON library's own.
        EXPECT_EQ(std::string(e.what()).rfind("fit.json: not valid JSON: parse error at line 2", 0),
                  0u)
            << e.what();
    }
    // A number beyond the range of double is refused as text that is not JSON, like any other.
    try {
        parseProfile("{\"format\": 1044E2222269}", "fit.json");
        FAIL() << "accepted a number beyond the range of double";
    } catch (const ProfileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("fit.json: not valid JSON: number overflow", 0), 0u)
            << e.what();
    }
}

// Each row replaces one piece of kFitted and names the message the loader must give.
struct BadField {
    const char* name;
    const char* from;
    const char* to;
    const char* message;
};

class ProfileRejects : public testing::TestWithParam<BadField> {};

TEST_P(ProfileRejects, NamingTheField) {
    std::string text = kFitted;
    const BadField& row = GetParam();
    const std::size_t at = text.find(row.from);
    ASSERT_NE(at, std::string::npos) << row.from;
    text.replace(at, std::string(row.from).size(), row.to);
    try {
        parseProfile(text, "fit.json");
        FAIL() << "accepted " << row.name;
    } catch (const ProfileError& e) {
        EXPECT_EQ(std::string(e.what()), row.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ProfileRejects,
    testing::Values(
        BadField{"OtherFormat", "\"lumetra-profile\"", "\"other\"",
                 "fit.json: format: must be \"lumetra-profile\": not a Lumetra profile (got "
                 "\"other\")"},
        BadField{"NewerVersion", "\"format_version\": 1", "\"format_version\": 2",
                 "fit.json: format_version: must be 1, the version this Lumetra reads (got 2)"},
        BadField{"UnknownTopKey",
                 "\"viewing\":", "\"veiwing\": {}, \"viewing\":", "fit.json: veiwing: unknown key"},
        BadField{"MisspeltParameter", "\"beta\": 3.5", "\"bta\": 3.5",
                 "fit.json: parameters.bta: unknown key"},
        BadField{"ZeroBeta", "\"beta\": 3.5", "\"beta\": 0",
                 "fit.json: parameters.beta: beta must be greater than 0 (got 0)"},
        BadField{"HugeCo", "\"co\": 4.0", "\"co\": 1e39",
                 "fit.json: parameters.co: co must be a finite number (got inf)"},
        BadField{"TextBeta", "\"beta\": 3.5", "\"beta\": \"3.5\"",
                 "fit.json: parameters.beta: must be a number (got \"3.5\")"},
        BadField{"NumberSwitch", "\"inter_a\": false", "\"inter_a\": 0",
                 "fit.json: parameters.inter_a: must be true or false (got 0)"},
        BadField{"NoViewing", "\"viewing\": { \"ppd\": 44.26 },", "", "fit.json: viewing: missing"},
        BadField{"ZeroPpd", "\"ppd\": 44.26", "\"ppd\": 0",
                 "fit.json: viewing.ppd: pixels per degree must be greater than 0 (got 0)"},
        BadField{"ViewingExtra", "\"ppd\": 44.26", "\"ppd\": 44.26, \"distance\": 70",
                 "fit.json: viewing.distance: unknown key"},
        BadField{"UnknownKind", "\"kind\": \"logistic\"", "\"kind\": \"cubic\"",
                 "fit.json: mapping.kind: must be \"linear\" or \"logistic\" (got \"cubic\")"},
        BadField{"ZeroWidth", "\"b4\": 150.0", "\"b4\": 0",
                 "fit.json: mapping.b4: b4 must be other than 0 (got 0)"},
        BadField{"MissingCoefficient", ", \"b3\": 800.0", "", "fit.json: mapping.b3: missing"},
        BadField{"LineKeyInCurve", "\"b4\": 150.0 }", "\"b4\": 150.0, \"a\": 1 }",
                 "fit.json: mapping.a: unknown key"},
        BadField{"ZeroSlopeInFile", "\"a\": 0.0009", "\"a\": 0",
                 "fit.json: data.files[0].mapping.a: a must be other than 0 (got 0)"},
        BadField{"NegativePairs", "\"pairs\": 200, \"references\": 20,",
                 "\"pairs\": -1, \"references\": 20,",
                 "fit.json: data.files[0].pairs: must be a whole number at least 0 (got -1)"},
        BadField{"FileExtra", "\"file\": \"scores.csv\"", "\"file\": \"scores.csv\", \"x\": 1",
                 "fit.json: data.files[0].x: unknown key"},
        BadField{"FigureText", "\"rmse\": 0.41", "\"rmse\": \"low\"",
                 "fit.json: figures.train.rmse: must be a number (got \"low\")"},
        BadField{"TwiceGivenKey", "\"beta\": 3.5", "\"beta\": 3.5, \"beta\": 2",
                 "fit.json: the key \"beta\" appears twice in one object"},
        BadField{"FigureExtra", "\"cv\": null", "\"cv\": null, \"test\": null",
                 "fit.json: figures.test: unknown key"}),
    [](const testing::TestParamInfo<BadField>& info) { return info.param.name; });

}  // namespace
}  // namespace lumetra
