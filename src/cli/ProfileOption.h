#pragma once

// --profile: a calibration profile's parameters, viewing conditions and score mapping as the
// run's starting point, each option given on the command line winning over the profile.

#include <string>
#include <string_view>

#include "engine/Parameters.h"
#include "engine/Profile.h"

namespace CLI {
class App;
}

namespace lumetra {

// The profile's parameters, with every parameter option given on `app`'s command line taking
// its value from `given` instead (the viewing options, --ppd and --display, are applied
// afterwards by the caller).  -a/--slope and -b/--offset replace a linear profile's
// coefficients one by one; a logistic profile's curve they replace by a line only when both
// are given.  Throws CLI::ValidationError for a lone -a or -b with a logistic profile.
Parameters profileWithOptions(const Profile& profile, const Parameters& given,
                              const LinearMapping& givenLine, const CLI::App& app);

// The command line's name of a parameter field: its key with '-' for '_' ("intra-c1"), without
// the leading "--".
std::string optionNameOf(std::string_view key);

// loadProfile(path), with a ProfileError as the usage error "lumetra: <its message>".
Profile loadProfileAsUsage(const std::string& path);

}  // namespace lumetra
