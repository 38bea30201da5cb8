// Runs f, which must raise AvisynthError, and returns the message.
#ifndef ZEMIVTC_TESTS_ERROR_OF_H
#define ZEMIVTC_TESTS_ERROR_OF_H

#include <gtest/gtest.h>

#include <string>

#include "host/avisynth.h"

template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const AvisynthError& e) {
    return e.msg;
  }
  ADD_FAILURE() << "no AvisynthError raised";
  return std::string();
}

#endif
