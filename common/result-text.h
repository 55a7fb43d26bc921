// One-line meanings of every status class and detail code of the kit, for
// messages that people read (the command-line program, logs, the README).
//
// A result is (status << 20) | detail; exports return the status and keep the
// detail for GetDetail. The tables are keyed by those numbers, so any library
// of the kit can be described without linking it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jor {

struct StatusText {
  int status;
  const char* meaning;
};

struct DetailText {
  uint32_t detail;
  const char* meaning;
};

// Every status class, in ascending order.
const std::vector<StatusText>& StatusTexts();
// Every detail code, in ascending order. The HTK model reader's details
// (0x6100 to 0x62FF: model, then reader code) are listed per code once, as
// 0x61xx; DetailMeaning also answers for the second model's 0x62xx.
const std::vector<DetailText>& DetailTexts();

// The meaning of a status class or detail code; null when unknown.
const char* StatusMeaning(int status);
const char* DetailMeaning(uint32_t detail);

// "status 1024 (model data unreadable or inconsistent), detail 0x01015
// (model container ...)"; unknown numbers are given without a meaning, and a
// detail of 0 is left out.
std::string DescribeResult(int status, uint32_t detail);

// The audio decoder's statuses (negative integers, 0 for success).
const char* DecoderStatusMeaning(int status);

}  // namespace jor
