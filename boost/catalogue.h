#pragma once
// Which services a boost stops: one per option of "Boost Option 2", chosen by the Windows version
// (the option table, boost/boost_option.h, holds each option's services), then a fixed list per
// version. Compiled in; nothing adds to it or changes it. Only XP, Vista and Seven (version codes
// 6, 8, 9) have entries: on any other system a boost stops no service.
#include <cstddef>
#include <string>

#include "boost/boost_option.h"

namespace kestrava {

// The catalogue's rows are the option table's: the twelve options in the order a boost visits
// them, each with its service per version.
using CatalogueOption = BoostOption;
inline constexpr const std::array<BoostOption, kServiceOptionCount>& kCatalogueOptions =
    kBoostOptions;

// Whether the version has services to stop; a boost on any other stops none.
bool HasCatalogue(int versionCode);

// The option's service on the version; "" when it has none there or the version has no entries.
const char* OptionService(const BoostOption& option, int versionCode);

// The version's fixed list, stopped after the options in this order.
struct ServiceList {
  const char* const* names = nullptr;
  std::size_t count = 0;
  const char* const* begin() const { return names; }
  const char* const* end() const { return names + count; }
};
ServiceList FixedServices(int versionCode);

// Whether a boost on the version could stop the named service: an option's cell or a name of the
// fixed list, compared without regard to case as the Service Control Manager compares them. The
// restore starts no other name, whatever the record holds.
bool IsCatalogueService(int versionCode, const std::string& name);

}  // namespace kestrava
