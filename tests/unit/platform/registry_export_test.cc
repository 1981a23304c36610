// SPDX-License-Identifier: BSD-2-Clause
// Registry export files: both formats, line ends, wrapped hex data, letter case, and the sizes a
// RegQueryValueExA caller sees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fake_driver.h"
#include "platform/platform.h"
#include "platform/registry_export.h"

namespace {

using namespace std::string_literals;

constexpr const char* kKey = "SOFTWARE\\MICROSOFT\\RAS\\Tapi Devices\\TESSIX";

// Version 4 export: single-byte multi-strings, CRLF, a value wrapped over lines.
const std::string kRegedit4 =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\RAS\\Tapi Devices\\TESSIX]\r\n"
    "\"Address\"=hex(7):31,2e,30,00,31,2e,32,00,00\r\n"
    "\"Friendly Name\"=hex(7):41,00,\\\r\n"
    "  42,00,00\r\n"
    "\"Media Type\"=\"isdn\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\" C:\\\\\"\r\n"
    "\"Count\"=dword:0000012c\r\n"
    "; a comment\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OTHER]\r\n"
    "\"Usage\"=hex(7):58,00,00\r\n";

// Version 5 export: UTF-16LE multi-strings, LF only.
const std::string kRegedit5 =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\RAS\\Tapi Devices\\TESSIX]\n"
    "\"Usage\"=hex(7):55,00,31,00,00,00,55,00,32,00,00,00,00,00\n"
    "\"Friendly Name\"=hex(7):e9,00,3a,26,00,00,00,00\n"
    "\"Binary\"=hex:01,00,02\n"
    "@=\"default\"\n";

struct LookupCase {
  const char* name;
  const std::string* file;
  const char* key;
  const char* value;
  long want_rc;
  std::string want_data;
};

TEST(RegistryExport, FindsValuesInBothFormats) {
  const std::vector<LookupCase> cases = {
      {"v4 multi-string", &kRegedit4, kKey, "Address", kRegOk, "1.0\0" "1.2\0\0"s},
      {"v4 wrapped hex", &kRegedit4, kKey, "Friendly Name", kRegOk, "A\0B\0\0"s},
      {"v4 string", &kRegedit4, kKey, "Media Type", kRegOk, "isdn\0"s},
      {"v4 escapes", &kRegedit4, kKey, "Quoted", kRegOk, "say \"hi\" C:\\\0"s},
      {"v4 dword", &kRegedit4, kKey, "Count", kRegOk, "\x2c\x01\0\0"s},
      {"key and value in other case", &kRegedit4, "software\\microsoft\\ras\\TAPI DEVICES\\tessix", "ADDRESS",
       kRegOk, "1.0\0" "1.2\0\0"s},
      {"value under another key", &kRegedit4, kKey, "Usage", kRegFileNotFound, ""},
      {"missing key", &kRegedit4, "SOFTWARE\\MICROSOFT\\RAS", "Address", kRegFileNotFound, ""},
      {"v5 UTF-16 narrowed", &kRegedit5, kKey, "Usage", kRegOk, "U1\0U2\0\0"s},
      {"v5 non-Latin character", &kRegedit5, kKey, "friendly name", kRegOk, "\xe9?\0\0"s},
      {"v5 binary kept as bytes", &kRegedit5, kKey, "Binary", kRegOk, "\x01\x00\x02"s},
      {"v5 default value", &kRegedit5, kKey, "", kRegOk, "default\0"s},
      {"v5 missing value", &kRegedit5, kKey, "Address", kRegFileNotFound, ""},
  };
  for (const LookupCase& tc : cases) {
    std::string data = "untouched";
    EXPECT_EQ(FindRegistryValue(*tc.file, tc.key, tc.value, &data), tc.want_rc) << tc.name;
    if (tc.want_rc == kRegOk) {
      EXPECT_EQ(data, tc.want_data) << tc.name;
    }
  }
}

std::string Utf16File(const std::string& text) {
  std::string out = "\xFF\xFE";
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

TEST(RegistryExport, ReadsUtf16EncodedFile) {
  std::string crlf;
  for (char c : kRegedit5) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  std::string data;
  ASSERT_EQ(FindRegistryValue(Utf16File(crlf), kKey, "Usage", &data), kRegOk);
  EXPECT_EQ(data, "U1\0U2\0\0"s);
}

TEST(RegistryExport, RejectsFilesThatAreNoExport) {
  std::string data;
  for (const std::string& file : {""s, "\n\n"s, "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"y\"\n"s, "REGEDIT5\n"s}) {
    EXPECT_EQ(FindRegistryValue(file, "A", "x", &data), kRegFileNotFound) << file;
  }
}

TEST(RegistryExport, LaterLinesAndDeletionsWin) {
  const std::string file =
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"one\"\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"two\"\n"
      "\"gone\"=\"x\"\n\"gone\"=-\n\"v\"=hex:1g\n[HKEY_CURRENT_USER\\K]\n\"v\"=\"other root\"\n";
  std::string data;
  ASSERT_EQ(FindRegistryValue(file, "K", "v", &data), kRegOk);
  EXPECT_EQ(data, "two\0"s);
  EXPECT_EQ(FindRegistryValue(file, "K", "gone", &data), kRegFileNotFound);

  // Deleting the key, or a key above it, drops what was read; a later section brings it back.
  for (const char* deleted : {"[-HKEY_LOCAL_MACHINE\\K\\Sub]", "[-HKEY_LOCAL_MACHINE\\k]"}) {
    const std::string base = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\\Sub]\n\"v\"=\"one\"\n"s + deleted +
                             "\n\"v\"=\"orphan\"\n";
    EXPECT_EQ(FindRegistryValue(base, "K\\Sub", "v", &data), kRegFileNotFound) << deleted;
    ASSERT_EQ(FindRegistryValue(base + "[HKEY_LOCAL_MACHINE\\K\\SUB]\n\"v\"=\"new\"\n", "K\\Sub", "v", &data), kRegOk);
    EXPECT_EQ(data, "new\0"s);
  }
  // A deleted key whose name only begins like ours leaves ours alone.
  ASSERT_EQ(FindRegistryValue("REGEDIT4\n[HKEY_LOCAL_MACHINE\\KEY]\n\"v\"=\"kept\"\n[-HKEY_LOCAL_MACHINE\\KE]\n",
                              "KEY", "v", &data), kRegOk);
}

// Hex data whose digit runs are longer than a byte is unreadable: no value, and no overflow on
// the way (a run of thousands of digits once overflowed the byte being built).
TEST(RegistryExport, HexRunLongerThanAByteIsNoData) {
  const std::string run(4000, 'C');
  std::string data;
  for (const std::string& hex : {"41,"s + run + ",00"s, "41,00,"s + run, "123"s}) {
    EXPECT_EQ(FindRegistryValue("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex(7):" + hex + "\n", "K", "v", &data),
              kRegFileNotFound) << hex.substr(0, 12);
  }
  ASSERT_EQ(FindRegistryValue("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:0a\n\"v\"=hex:" + run + "\n", "K", "v", &data),
            kRegOk);
  EXPECT_EQ(data, "\x0a"s);
}

TEST(RegistryExport, CopyReportsTheNeededSize) {
  struct Case {
    std::uint32_t buffer_size;
    long want_rc;
    std::uint32_t want_size;
    bool copied;
  };
  const std::string value = "1.0\0" "1.2\0\0"s;  // 9 bytes
  for (const Case& tc : {Case{1024, kRegOk, 9, true}, Case{9, kRegOk, 9, true}, Case{8, kRegMoreData, 9, false},
                         Case{0, kRegMoreData, 9, false}}) {
    std::string buffer(16, '#');
    std::uint32_t size = tc.buffer_size;
    EXPECT_EQ(CopyRegistryValue(value, buffer.data(), &size), tc.want_rc) << tc.buffer_size;
    EXPECT_EQ(size, tc.want_size) << tc.buffer_size;
    EXPECT_EQ(buffer.substr(0, 9) == value, tc.copied) << tc.buffer_size;
    EXPECT_EQ(buffer.substr(9), std::string(7, '#')) << tc.buffer_size;
  }
  std::uint32_t size = 0;
  EXPECT_EQ(CopyRegistryValue(value, nullptr, &size), kRegOk);
  EXPECT_EQ(size, 9u);
}

TEST(RegistryFile, QueriesTheExportNamedByTheEnvironment) {
  TempDir dir;
  // 1100 bytes of single-byte data from a version 5 file: more than a 1024-byte buffer holds.
  std::string big = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"Big\"=hex(7):";
  for (int i = 0; i < 1100; ++i) big += i == 0 ? "41,00" : ",41,00";
  big += "\r\n\"Small\"=hex(7):41,00,00,00,00,00\r\n";
  ScopedEnv env("BRI_REGISTRY", dir.Write("registry.reg", big));

  char buffer[1024];
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(PlatRegQueryValue("k", "big", buffer, &size), kRegMoreData);
  EXPECT_EQ(size, 1100u);
  size = sizeof buffer;
  ASSERT_EQ(PlatRegQueryValue("K", "Small", buffer, &size), kRegOk);
  EXPECT_EQ(std::string(buffer, size), "A\0\0"s);
  size = sizeof buffer;
  EXPECT_EQ(PlatRegQueryValue("K", "None", buffer, &size), kRegFileNotFound);

  ScopedEnv missing("BRI_REGISTRY", dir.path() + "/no-such.reg");
  size = sizeof buffer;
  EXPECT_EQ(PlatRegQueryValue("K", "Small", buffer, &size), kRegFileNotFound);
}

// Only a regular file of at most 64 MiB is an export; anything else reads as no registry, at once.
TEST(RegistryFile, OnlyARegularFileOfSaneSizeIsRead) {
  TempDir dir;
  const std::string good = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"V\"=hex(7):41,00,00\r\n";
  const std::string fifo = dir.path() + "/fifo.reg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // nobody ever writes to it
  // Just over the limit, the export's text first: only the size can tell it apart.
  const std::string huge = dir.Write("huge.reg", good);
  ASSERT_EQ(truncate(huge.c_str(), (off_t{64} << 20) + 1), 0);
  const struct {
    std::string path;
    long expected;
  } cases[] = {
      {dir.Write("good.reg", good), kRegOk},
      {huge, kRegFileNotFound},
      {"/dev/zero", kRegFileNotFound},
      {"/dev/null", kRegFileNotFound},
      {fifo, kRegFileNotFound},
      {dir.path(), kRegFileNotFound},
  };
  for (const auto& tc : cases) {
    ScopedEnv env("BRI_REGISTRY", tc.path);
    char buffer[16];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(PlatRegQueryValue("K", "V", buffer, &size), tc.expected) << tc.path;
  }
}

}  // namespace
