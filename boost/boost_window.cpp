#include "boost/boost_window.h"

namespace kestrava {

std::atomic<bool> BoostFinished{false};

}  // namespace kestrava
