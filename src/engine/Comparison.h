#pragma once

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

}  // namespace lumetra
