#include "platform/serial/bit_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tarvo::serial {

bool set_bit_rate(int fd, int rate) {
    if (rate <= 0) return false;
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

int read_bit_rate(int fd) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
    return static_cast<int>(t.c_ospeed);
}

}  // namespace tarvo::serial
