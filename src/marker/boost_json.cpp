// Boost.JSON is used header-only, and only its SAX parser: the few non-template parts that the
// parser needs (error codes, its stack, the default memory resource) are compiled here, once
// for the whole program. Including all of <boost/json/src.hpp> would also bring in the DOM,
// the serialiser and the iostream operators, and with them most of the C++ locale machinery,
// which alone more than triples the size of the statically linked executable. A Boost version
// whose parser needs more of the library fails to link, loudly.
#include <boost/json/basic_parser.hpp>
#include <boost/json/memory_resource.hpp>

#include <boost/json/detail/impl/default_resource.ipp>
#include <boost/json/detail/impl/except.ipp>
#include <boost/json/detail/impl/shared_resource.ipp>
#include <boost/json/detail/impl/stack.ipp>
#include <boost/json/impl/error.ipp>
