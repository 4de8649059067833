#include "text_records.h"

#include "compose/escp.h"
#include "text_input.h"

namespace bspp::tools {
namespace {

constexpr char kFormFeedByte = '\f';

}  // namespace

void RecordLayout::add(std::string_view piece, std::string& records) {
  for (const char b : piece) addByte(b, records);
}

void RecordLayout::addByte(char b, std::string& records) {
  if (crPending_) {
    crPending_ = false;
    if (b == '\n') {  // CR LF: the CR is part of the line break
      endLine(records);
      return;
    }
    addLineByte('\r', records);  // an ordinary byte after all
  }
  if (b == '\r') {
    crPending_ = true;
  } else if (b == '\n') {
    endLine(records);
  } else {
    addLineByte(b, records);
  }
}

void RecordLayout::addLineByte(char b, std::string& records) {
  if (leadPending_) {
    leadPending_ = false;
    const char pair[] = {lead_, b};
    put(std::string_view(pair, 2), 2, records);
  } else if (static_cast<unsigned char>(b) >= kLeadByteMin) {
    lead_ = b;
    leadPending_ = true;
  } else if (b == kFormFeedByte && longLines_ == LongLines::wrap) {
    formFeed(records);
  } else {
    put(std::string_view(&b, 1), 1, records);
  }
}

void RecordLayout::put(std::string_view character, int width, std::string& records) {
  ++characters_;
  lineEmpty_ = false;
  if (columns_ + width > kLineColumns) {
    if (longLines_ == LongLines::refuse) {
      throw InputError(line_, characters_,
                       "the line is wider than 80 columns (a Chinese character takes 2)");
    }
    endRecord(records);
  }
  record_ += character;
  columns_ += width;
}

void RecordLayout::formFeed(std::string& records) {
  ++characters_;
  lineEmpty_ = false;
  if (columns_ > 0) endRecord(records);
  record_ += kFormFeedByte;
  columns_ = 1;
  endRecord(records);
}

void RecordLayout::endLine(std::string& records) {
  if (leadPending_) {  // the line ends with a lead byte
    leadPending_ = false;
    put(std::string_view(&lead_, 1), 2, records);
  }
  // An empty line is a blank record; a line that ended with a full record
  // or a form feed adds none.
  if (columns_ > 0 || lineEmpty_) endRecord(records);
  ++line_;
  characters_ = 0;
  lineEmpty_ = true;
}

void RecordLayout::endRecord(std::string& records) {
  const bool formFeedRecord = record_.size() == 1 && record_[0] == kFormFeedByte;
  record_.append(static_cast<std::size_t>(kLineColumns - columns_), ' ');
  if (formFeedRecord && longLines_ == LongLines::wrap) {
    ++heldFormFeeds_;  // written once something follows them
  } else {
    writeHeldFormFeeds(records);
    records += record_;
  }
  record_.clear();
  columns_ = 0;
}

void RecordLayout::writeHeldFormFeeds(std::string& records) {
  for (; heldFormFeeds_ > 0; --heldFormFeeds_) {
    records += kFormFeedByte;
    records.append(static_cast<std::size_t>(kLineColumns - 1), ' ');
  }
}

void RecordLayout::finish(std::string& records) {
  crPending_ = false;  // a CR that ends the text ends its last line
  if (leadPending_) {
    leadPending_ = false;
    put(std::string_view(&lead_, 1), 2, records);
  }
  if (columns_ > 0) endRecord(records);
  heldFormFeeds_ = 0;  // the job's own form feed ends the last page
}

std::string linesToRecords(std::string_view gbText, LongLines longLines) {
  RecordLayout layout(longLines);
  std::string records;
  records.reserve(gbText.size() + gbText.size() / 2);
  layout.add(gbText, records);
  layout.finish(records);
  return records;
}

}  // namespace bspp::tools
