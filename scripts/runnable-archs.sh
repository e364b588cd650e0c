#!/bin/bash
# Prints the architectures whose Windows programs this machine can run under
# Wine, the product's first. Some machines run no 32-bit Linux programs (a
# kernel without 32-bit execution), and so no 32-bit Wine.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo "i686 x86_64"; else echo "x86_64"; fi
