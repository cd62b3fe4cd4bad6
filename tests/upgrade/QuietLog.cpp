// The message engine logs every exchange at trace severity; with no sink set
// up Boost.Log prints them all, which for a 2 MiB upgrade buries the test
// output. Warnings and errors still show.
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/trivial.hpp>

namespace {

const bool kQuiet = [] {
    boost::log::core::get()->set_filter(boost::log::trivial::severity >= boost::log::trivial::warning);
    return true;
}();

}  // namespace
