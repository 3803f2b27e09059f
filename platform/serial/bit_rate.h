// Any bit rate on a Linux terminal, through termios2: BOTHER sets a rate that
// has no Bxxx constant (7200 bit/s), and the rate the driver really took is
// read back. Kept apart from <termios.h>, whose structures clash with the
// kernel's.
#pragma once

namespace tarvo::serial {

// Sets both directions of `fd` to `rate` bit/s; false when the driver
// refuses.
bool set_bit_rate(int fd, int rate);
// The output rate `fd` runs at; 0 when it cannot be read.
int read_bit_rate(int fd);

}  // namespace tarvo::serial
