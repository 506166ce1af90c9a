// Boost.JSON is used header-only: its non-template parts are compiled here, once for the whole
// program, so that no Boost library has to be built or linked.
#include <boost/json/src.hpp>
