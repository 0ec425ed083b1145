// NXExampleSoundLib: libsndfile, loaded when the package first opens a sound
// file instead of when the package itself is loaded. The library brings its
// codec libraries with it (FLAC, Vorbis, Opus, MPEG audio); loading them all
// cost every run of the package a few milliseconds, and most graphs neither
// play nor record a file.
#pragma once

#include <sndfile.h>

#include <string>

namespace nx::examples {

// The functions of libsndfile that the package calls, named as the library
// names them.
struct TSoundLib {
  decltype(&::sf_open) sf_open;
  decltype(&::sf_close) sf_close;
  decltype(&::sf_seek) sf_seek;
  decltype(&::sf_readf_double) sf_readf_double;
  decltype(&::sf_write_double) sf_write_double;
  decltype(&::sf_command) sf_command;
  decltype(&::sf_error) sf_error;
  decltype(&::sf_strerror) sf_strerror;
  decltype(&::sf_error_number) sf_error_number;
};

// The library, loaded by the first call (from any thread); null when it
// cannot be loaded, with the reason in *AWhy where AWhy is given. A file that
// was opened proves it loaded: code that holds one calls SoundLib() alone.
const TSoundLib* SoundLib(std::string* AWhy = nullptr);

}  // namespace nx::examples
