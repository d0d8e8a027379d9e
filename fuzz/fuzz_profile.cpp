// Fuzz target: calibration profiles (parseProfile in engine/Profile.h) from any text.
//
// Checked beyond the sanitizers, what the header promises: a profile is read or refused with
// a ProfileError, nothing else; what is read holds parameters that Parameters::problems()
// accepts; and profileJson() writes it as text that parseProfile reads back as an equal
// profile.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumetra::Profile profile;
    try {
        profile = lumetra::parseProfile(text, "<fuzz>");
    } catch (const lumetra::ProfileError&) {
        return 0;
    }
    if (!profile.parameters.problems().empty()) std::abort();
    try {
        if (!(lumetra::parseProfile(lumetra::profileJson(profile), "<written>") == profile)) {
            std::abort();
        }
    } catch (const lumetra::ProfileError&) {
        std::abort();
    }
    return 0;
}
