#!/usr/bin/env bash
# Where the CPU of one conversion goes, by step, and how the time splits between threads:
# perf samples (Debian's linux-perf) of `cellverter-cli -d - WORKBOOK`, each symbol put into
# one step.
#
#   bench/cpu-shares.sh WORKBOOK [CLI]
#
# CLI defaults to build/bench/bin/cellverter-cli (a Release build with -DCELLVERTER_BENCH=ON).
set -euo pipefail
book=$1
cli=${2:-build/bench/bin/cellverter-cli}
data=$(mktemp)
trap 'rm -f "$data"' EXIT
perf record -q -F 4999 -o "$data" "$cli" -d - "$book" >/dev/null 2>&1
perf script -i "$data" -F tid,ip,sym 2>/dev/null | awk '
  {
    tid = $1; sym = ""
    for (i = 3; i <= NF; i++) sym = sym (i > 3 ? " " : "") $i
    if (sym ~ /huffman|inflate|crc32|adler|isal|Inflate|ZipEntryStream|PrefetchStream/) step = "inflate + CRC"
    else if (sym ~ /XmlScanner|ScanPlainRow|RowScanner|PlainRowsAhead/) step = "XML tokenising"
    else if (sym ~ /SheetReader|ReadSheet|ParseCellReference|from_chars|FinishRow|AddCell|ParseUnsigned|SharedStrings|ReadSharedStrings/) step = "cell parsing and spooling"
    else if (sym ~ /memmove|memcpy|memset/) step = "copies (memmove)"
    else if (sym ~ /memchr|memcmp|strlen/) step = "byte search (memchr, memcmp)"
    else if (sym ~ /numfmt|NumberFormat|CompiledFormat|GeneralFormat|Render/) step = "number formatting"
    else if (sym ~ /ReadRecord|RowsAhead|SheetSpool|NextRow|ReadSpooled/) step = "spool reading"
    else if (sym ~ /AppendField|AppendCsvLine|Utf8Encoder|Encoder|CsvFileWriter|RowReader|AppendText|EngineWorksheet|ExcelRange|CountValues/) step = "CSV lines, cells asked, encoding"
    else if (sym ~ /^\[|^[a-z_]+$|_iter|folio|page|irq|syscall|entry_SYSCALL|finish_task_switch/) step = "kernel (reads, writes, scheduling)"
    else step = "other"
    steps[step]++; threads[tid]++; n++
  }
  END {
    printf "| step | share of the CPU |\n|---|---|\n"
    for (s in steps) printf "| %s | %.0f %% |\n", s, 100 * steps[s] / n | "sort -t\\| -k3 -rn"
    close("sort -t\\| -k3 -rn")
    printf "\nthreads (share of the samples):"
    for (t in threads) printf " %.0f %%", 100 * threads[t] / n
    printf "\n"
  }'
