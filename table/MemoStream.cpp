#include "table/MemoStream.h"

#include <optional>

#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "table/DbfTable.h"

namespace vz {

using data::DataSetState;

MemoStream::MemoStream(data::Field* field, DbfTable* table, data::BlobMode mode)
    : field_(field), table_(table) {
  if (!field || field->Calculated() || field->FieldNo() < 1) return;
  std::uint8_t* b = table->ActiveBuffer();
  if (!b) return;
  std::int32_t block = 0;
  table->GetFieldData(field, &block);
  block_ = block;
  const bool convert = table->TableLanguage == TableCharset::tlOem;
  mode_ = mode;
  if (mode == data::BlobMode::Read) {
    // Read errors deliver nothing instead of ending the program.
    ScopedErrorDispatch quiet(false);
    ClearError();
    CreateBlobDescriptor(blob_, convert, block_, 1);
    described_ = Engine().Errors.ErrorCode == 0;
    return;
  }
  // A memo that cannot be written is reported: silently losing the text
  // (and the record's old memo with it) is no option.
  ClearError();
  const std::int64_t made = CreateBlobDescriptor(blob_, convert, block_, 2);
  described_ = Engine().Errors.ErrorCode == 0 && made != 0;
  if (!described_) return;
  block_ = static_cast<std::int32_t>(made < 0 ? -made : made);
  std::int32_t v = block_;
  table->SetFieldData(field, &v);
}

std::int64_t MemoStream::Read(void* buffer, std::int64_t count) {
  if (!described_) return 0;
  table_->SelectWorkArea("ReadBlobStream");
  ScopedErrorDispatch quiet(false);
  return ReadBlobStream(blob_, buffer, count);
}

std::int64_t MemoStream::Seek(std::int64_t offset, int origin) {
  if (!described_) return 0;
  table_->SelectWorkArea("SeekBlobStream");
  ScopedErrorDispatch quiet(false);
  return SeekBlobStream(blob_, offset, origin);
}

std::int64_t MemoStream::Write(const void* buffer, std::int64_t count) {
  if (!described_) return 0;
  table_->SelectWorkArea("WriteBlobStream");
  const std::int64_t n = WriteBlobStream(blob_, buffer, count);
  if (n > 0) modified_ = true;
  return n;
}

MemoStream::~MemoStream() {
  if (!table_->Active() || table_->WorkArea() == 0) return;
  try {
    table_->SelectWorkArea("DestroyBlobStream");
    // A write stream whose memo could not be made changed nothing.
    if (mode_ == data::BlobMode::Write && described_) {
      if (!modified_ && block_ != 0 && field_) {
        // An emptied memo.
        block_ = 0;
        std::int32_t zero = 0;
        table_->SetFieldData(field_, &zero);
        modified_ = true;
      }
      const DataSetState s = table_->State();
      if (s != DataSetState::Edit && s != DataSetState::Insert && s != DataSetState::SetKey &&
          !table_->ControlsDisabled())
        table_->Edit();
      table_->SelectWorkArea("DestroyBlobStream");
      table_->CopyOut(0);
    }
    if (described_) {
      std::optional<ScopedErrorDispatch> quiet;
      if (mode_ == data::BlobMode::Read) quiet.emplace(false);
      DestroyBlobDescriptor(blob_);
    }
    if (modified_ && field_) table_->DataChanged(field_);
  } catch (const std::exception& e) {
    // The descriptor ends all the same: a writer left in use would keep
    // every later memo of the table from being written.
    if (blob_.InUse) {
      try {
        ScopedErrorDispatch quiet(false);
        table_->SelectWorkArea("DestroyBlobStream");
        DestroyBlobDescriptor(blob_);
      } catch (const std::exception&) {
      }
    }
    platform::ShowMessage(e.what());
  }
}

}  // namespace vz
