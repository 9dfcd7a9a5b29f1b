#pragma once

#include <cstdint>

#include "dataset/DataSet.h"
#include "dataset/Stream.h"
#include "engine/dbt_file.h"
#include "engine/trim.h"

namespace vz {

class DbfTable;

// A memo field's text as a stream, through the memo unit's blob descriptor.
class MemoStream : public data::Stream {
 public:
  MemoStream(data::Field* field, DbfTable* table, data::BlobMode mode);
  ~MemoStream() override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  data::BlobMode Mode() const { return mode_; }

 private:
  data::Field* field_;
  DbfTable* table_;
  bool modified_ = false;
  data::BlobMode mode_ = data::BlobMode::Read;
  bool described_ = false;
  std::int32_t block_ = 0;
  // The stream's own: a control that shows the field while this stream
  // writes it reads through a descriptor of its own and cannot end this one.
  BlobDescriptor blob_;
};

}  // namespace vz
