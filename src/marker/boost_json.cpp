// Boost.JSON is used header-only, and only its SAX parser: the few non-template parts that the
// parser needs are compiled here, once for the whole program, and which parts those are depends
// on the Boost version. Including all of <boost/json/src.hpp> would also bring in the DOM, the
// serialiser and the iostream operators, and with them most of the C++ locale machinery, which
// alone more than triples the size of the statically linked executable. A Boost version whose
// parser needs more of the library fails to link, loudly.
#include <boost/json/basic_parser.hpp>
#include <boost/version.hpp>

// Error codes, the parser's stack and the memory resources behind it (the shared one is never
// used, but its type information is: by the undefined-behaviour sanitizer of the fuzzing build).
#include <boost/json/detail/impl/default_resource.ipp>
#include <boost/json/detail/impl/shared_resource.ipp>
#include <boost/json/detail/impl/stack.ipp>
#include <boost/json/impl/error.ipp>

// From Boost 1.83 on the parser converts numbers with a from_chars of its own, and its number
// buffer reports an overflow by throwing a system_error, which except.ipp leaves its includer
// to declare.
#if BOOST_VERSION >= 108300
#include <boost/system/system_error.hpp>

#include <boost/json/detail/charconv/impl/from_chars.ipp>
#include <boost/json/detail/impl/except.ipp>
#endif
