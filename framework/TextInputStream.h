#pragma once
#include "framework/Object.h"
#include "framework/TextLine.h"

namespace fw {

class TextInputStream : public Object {
 public:
  class Backing;
  explicit TextInputStream(std::unique_ptr<Backing> b);
  ~TextInputStream() override;
  // One line without its end; a line ends at CR, LF or CR LF. A first line
  // the folder's cache holds shares its bytes.
  TextLine ReadLine();
  String ReadAll();
  bool EndOfFile() const;  // "EOF" is a C macro
  void Close();

 private:
  friend class FolderItem;  // hands a stream nobody holds any more out again
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
