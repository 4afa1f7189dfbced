#pragma once

// Marks what libvemla_client exports: the library is built with hidden
// visibility, so only classes and functions carrying VEMLA_EXPORT are part
// of its binary interface.
#define VEMLA_EXPORT __attribute__((visibility("default")))
