// Asio and Beast compiled once for the whole server: every other file sees only their
// declarations (BOOST_ASIO_SEPARATE_COMPILATION and BOOST_BEAST_SEPARATE_COMPILATION, set on the
// library target), so no other file compiles their sources again.

#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
