// Argument vectors of the programs as UTF-16 texts, ended by a null pointer as on Windows.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace orv {

class ArgumentVector {
 public:
  void Add(std::u16string argument) { texts_.push_back(std::move(argument)); }
  int count() const { return static_cast<int>(texts_.size()); }
  // Valid until the next Add.
  const WCHAR* const* data() {
    pointers_.clear();
    for (const std::u16string& text : texts_) {
      pointers_.push_back(text.c_str());
    }
    pointers_.push_back(nullptr);
    return pointers_.data();
  }

 private:
  std::vector<std::u16string> texts_;
  std::vector<const WCHAR*> pointers_;
};

}  // namespace orv
