#pragma once

// Symbol visibility of libvemla_client, kept on the ground floor so that
// every layer, from the common services up, can mark what it exports.
//
// Marks what libvemla_client exports: the library is built with hidden
// visibility, so only classes and functions carrying VEMLA_EXPORT are part
// of its binary interface.
#define VEMLA_EXPORT __attribute__((visibility("default")))

// The read data model (metadata, datasets, tables, the read holder) is part
// of the library's interface: the public headers hand it out, so the library
// exports it. A module that compiles its own copy of the data model from the
// same sources (the Python module does) defines VEMLA_PRIVATE_DATA_MODEL for
// that copy: it then stays hidden inside the module and never interposes on
// the library's symbols, nor the library's on it.
#ifdef VEMLA_PRIVATE_DATA_MODEL
#define VEMLA_DATA_EXPORT
#else
#define VEMLA_DATA_EXPORT VEMLA_EXPORT
#endif
