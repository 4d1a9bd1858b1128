// Filter interfaces. A filter reads src and writes dst; the region form touches only the pixels
// of dst inside region (right and bottom exclusive) and may run on several threads at once over
// disjoint regions of the same layers.
#pragma once

#include "Ombrel/OmbrelGeneral.h"
#include "Ombrel/OmbrelLayer.h"

namespace Ombrel {

class IFilter {
public:
    virtual void execute(Layer& src, Layer& dst) = 0;
    virtual ~IFilter() = default;
};

class IFilterWithRegion : protected IFilter {
public:
    using IFilter::execute;
    virtual void execute(Layer& src, Layer& dst, const Rect& region) = 0;
};

} // namespace Ombrel
