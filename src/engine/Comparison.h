#pragma once

#include <cmath>
#include <string>

#include "image/Array.h"

namespace lumetra {

// The result of scoring one degraded image: the measure (pooled visible error), the score
// (the measure mapped onto the 1..5 quality scale, or -1 when the measure is not a number)
// and the per-pixel error map, which the comparison owns.
class Comparison {
  public:
    Comparison(float mobj, float nobj, const Array<float>& err)
        : _mobj(mobj), _nobj(nobj), _err(err) {}
    Comparison(float mobj, float nobj, Array<float>&& err)
        : _mobj(mobj), _nobj(nobj), _err(std::move(err)) {}

    float mobj() const { return _mobj; }
    float nobj() const { return _nobj; }
    Array<float>& err() { return _err; }
    const Array<float>& err() const { return _err; }

  private:
    float _mobj;
    float _nobj;
    Array<float> _err;
};

// Why a comparison is not a result: "the measure is not a finite number (nan); the parameters
// or viewing conditions lie outside what the model covers"; empty when the measure is finite.
// Every front end fails the file with this message instead of reporting the measure.
inline std::string measureProblem(const Comparison& comparison) {
    const float measure = comparison.mobj();
    if (std::isfinite(measure)) return {};
    const char* value = std::isnan(measure) ? "nan" : (measure > 0.0f ? "inf" : "-inf");
    return std::string("the measure is not a finite number (") + value +
           "); the parameters or viewing conditions lie outside what the model covers";
}

}  // namespace lumetra
