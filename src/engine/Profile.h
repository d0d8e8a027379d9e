#pragma once

// Calibration profiles: the parameters, viewing conditions and score mapping fitted to a set
// of subjective scores, with what they were fitted to and how well they fit, as one JSON file
// that every front end loads.  Reading a profile judges every value with
// Parameters::problems() and refuses any key it does not know, so a typo is never ignored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Parameters.h"
#include "image/Error.h"

namespace lumetra {

// A profile that cannot be read or holds an unusable value.  The message starts with the
// file's path (or the name given for a text) and then names the bad field's JSON path:
// "fit.json: parameters.beta: beta must be greater than 0 (got 0)".
class ProfileError : public Error {
  public:
    using Error::Error;
};

// One file of subjective scores a profile was fitted to.
struct FittedFile {
    std::string file;
    std::uint64_t pairs = 0;
    std::uint64_t references = 0;
    // The mapping fitted to this file alone, when several files were fitted together.
    std::optional<ScoreMapping> mapping;

    bool operator==(const FittedFile&) const = default;
};

// What a profile was fitted to.
struct FittedData {
    std::vector<FittedFile> files;
    std::uint64_t pairs = 0;
    std::uint64_t references = 0;

    bool operator==(const FittedData&) const = default;
};

// Agreement of the scores with the subjective ones; a figure not computed is empty (null).
struct FitFigures {
    std::optional<double> srocc;
    std::optional<double> plcc;
    std::optional<double> krocc;
    std::optional<double> rmse;

    bool operator==(const FitFigures&) const = default;
};

// The figures on the fitted data and, when cross-validated, on held-out data.
struct ProfileFigures {
    FitFigures train;
    std::optional<FitFigures> cv;

    bool operator==(const ProfileFigures&) const = default;
};

struct Profile {
    // Model parameters, viewing conditions (pixelsPerDegree) and score mapping.
    Parameters parameters;
    // The version of Lumetra that wrote the profile; empty when not recorded.
    std::string lumetraVersion;
    // Descriptive only: they change no score.
    std::optional<FittedData> data;
    std::optional<ProfileFigures> figures;

    bool operator==(const Profile&) const = default;
};

// The profile in the JSON text `text`; `sourceName` starts every error message (a path, or a
// name such as "<string>").  Throws ProfileError.
Profile parseProfile(const std::string& text, const std::string& sourceName);

// The profile in the file `path`.  Throws ProfileError, also when the file cannot be read.
Profile loadProfile(const std::string& path);

// The profile as JSON text that parseProfile reads back as an equal profile: every parameter
// written, each number with the shortest digits that read back as the same value.
std::string profileJson(const Profile& profile);

// Writes profileJson(profile) to `path` atomically (writeFileAtomically).  Throws Error when
// the file cannot be written.
void saveProfile(const std::string& path, const Profile& profile);

}  // namespace lumetra
