#include "platform/CLocale.h"

namespace platform {

namespace {

locale_t cLocale() {
  static const locale_t s_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return s_locale;
}

}  // namespace

ScopedCLocale::ScopedCLocale() {
  if (const locale_t c = cLocale()) previous = uselocale(c);
}

ScopedCLocale::~ScopedCLocale() {
  if (previous != nullptr) uselocale(previous);
}

}  // namespace platform
