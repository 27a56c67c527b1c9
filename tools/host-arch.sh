#!/bin/sh
# Prints the Windows architecture whose programs this machine can run under
# Wine: i686 where the kernel runs 32-bit code and wine32 is installed,
# otherwise x86_64 (the 32-bit build then cannot be run here at all).
if [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]; then
  echo i686
else
  echo x86_64
fi
