// Behaviours as CSV for spreadsheets and scripts: UTF-8 with a byte-order mark (so a spreadsheet
// takes the Chinese texts for what they are), RFC 4180 quoting, CR LF between rows. The store's
// texts are code page 936 bytes; the caller says how to turn them into UTF-8, which differs by
// platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/process_record.h"
// ForEachProcessInTreeOrder gives the rows' order.
#include "engine/process_store.h"

class BehaviorCsv {
  public:
    // Appends code page 936 `bytes` to `out` as UTF-8.
    using AppendUtf8 = void (*)(std::string_view bytes, std::string& out);

    explicit BehaviorCsv(AppendUtf8 appendUtf8) : appendUtf8_(appendUtf8) {}

    // The byte-order mark and the header row: 进程, PID, PPID, 编号, 时间, 行为, 处理, 信息,
    // 详细信息.
    static void AppendHeader(std::string& out);
    // One row: `behavior` of `process` (a record, under the analyzer's lock, or a copy of its
    // fields).
    void AppendRow(const ProcessFields& process, const BehaviorRecord& behavior, std::string& out);

    // `text` as one cell: quoted when it holds a comma, a quote, CR or LF, its quotes doubled.
    static void AppendCell(std::string_view text, std::string& out);

  private:
    void AppendTextCell(std::string_view bytes, std::string& out);

    AppendUtf8 appendUtf8_;
    std::string scratch_;
};
