#pragma once
// The rows of the text table: one array per language, each in id order.

#include <array>

#include "texts/text_table.h"

struct TextRow {
  TextId id;
  const wchar_t* text;
};
using TextRows = std::array<TextRow, kTextCount>;

// Row i holds id i for every id. Each language file checks its rows with this at
// compile time, so that a dropped or swapped row can't shift the texts.
constexpr bool RowsInIdOrder(const TextRows& rows) {
  for (int id = 0; id < kTextCount; ++id) {
    if (rows[id].id != id || rows[id].text == nullptr) return false;
  }
  return true;
}

extern const TextRows kEnglishTextRows;
extern const TextRows kGermanTextRows;
extern const TextRows kJapaneseTextRows;
