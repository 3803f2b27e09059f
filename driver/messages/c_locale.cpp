#include "driver/messages/c_locale.h"

namespace tarvo {

locale_t c_locale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

}  // namespace tarvo
