// A signed installer checked against its signature, as osslsigncode verify and Windows check it:
// signed with SHA-256 and SHA-1 it is verified and its signer named; one byte changed after
// signing, in the payload or in the headers, or in the signature itself, is a mismatch that
// check rejects and osslsigncode refuses alike; the fields the digest leaves out (the checksum)
// change nothing; a certificate table of another shape than the one entry of revision 2.0 that
// fills it at the end of the file is refused by both, and SHA-384 and SHA-512 are verified like
// SHA-256; --require-signature rejects an unsigned installer. Runs with both builds: the
// Linux build checks with OpenSSL, the Windows build with the system's CryptMsg and BCrypt.
#include <string>
#include <vector>

#include "pack_fixture.h"
#include "pe/pe_format.h"

namespace {

class SignedInstaller : public PackFixture {
 protected:
  void SetUp() override {
    PackFixture::SetUp();
    ASSERT_EQ(Pack(Args("--quiet")).status, 0);
    ASSERT_EQ(RunProgram("openssl req -x509 -newkey rsa:2048 -nodes -days 2 "
                         "-subj '/C=US/O=Contoso Ltd/CN=Contoso Code Signing' -keyout '" +
                         Path("key.pem") + "' -out '" + Path("cert.pem") + "' 2>/dev/null")
                  .status,
              0);
  }
  void Sign(const char* digest, const std::string& out) {
    const RunResult r = RunProgram("osslsigncode sign -h " + std::string(digest) + " -certs '" +
                                   Path("cert.pem") + "' -key '" + Path("key.pem") + "' -in '" +
                                   Path("out.exe") + "' -out '" + Path(out) + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  RunResult Check(const std::string& file, const std::string& options = "") {
    return RunProgram(PackerCommand() + " check " + options + " '" + Path(file) + "'");
  }
  // osslsigncode's own verdict on the same file, the certificate taken as the trusted root.
  bool OsslsigncodeVerifies(const std::string& file) {
    return RunProgram("osslsigncode verify -CAfile '" + Path("cert.pem") + "' -in '" + Path(file) +
                      "'").status == 0;
  }
};

std::string Line(const std::string& report, const std::string& start) {
  const size_t at = report.find("\n" + start);
  if (at == std::string::npos) return "";
  return report.substr(at + 1, report.find('\n', at + 1) - at - 1);
}

// Where the certificate table is, from the security directory of a PE32+ image.
void TableOf(const std::vector<uint8_t>& image, uint32_t& offset, uint32_t& size) {
  const uint32_t entry = Load32(&image[60]) + 24 + 112 + 8 * 4;
  offset = Load32(&image[entry]);
  size = Load32(&image[entry + 4]);
}

TEST_F(SignedInstaller, CheckedAgainstTheFile) {
  Sign("sha256", "signed.exe");
  Sign("sha1", "signed-sha1.exe");
  const std::vector<uint8_t> signed_bytes = ReadFileBytes(Path("signed.exe"));
  uint32_t table = 0, table_size = 0;
  TableOf(signed_bytes, table, table_size);
  ASSERT_GT(table, 0u);
  // One byte of a section; one of the file header (its time stamp); the CheckSum field, which the digest leaves out; one byte of the signature value, the last
  // 256-byte string of the table; the table's type; the message itself.
  const std::string signed_table(signed_bytes.begin() + table, signed_bytes.begin() + table + table_size);
  const size_t signature_value = signed_table.rfind(std::string("\x04\x82\x01\x00", 4));
  ASSERT_NE(signature_value, std::string::npos);
  const uint32_t nt = Load32(&signed_bytes[60]);
  struct Case {
    const char* what;
    size_t at;      // the byte changed, from the file's start; 0: none
    uint8_t flip;   // the bits changed in it
    int status;
    const char* line;  // the start of the report's signature line
    bool osslsigncode_verifies;
  };
  const std::string verified = "signature: " + std::to_string(table_size) +
                               " bytes, SHA-256, signed by \"CN=Contoso Code Signing, O=Contoso "
                               "Ltd, C=US\": verified, the file is what was signed";
  const Case cases[] = {
      {"as signed", 0, 0, 0, verified.c_str(), true},
      {"a byte of the sections changed", 5 * 4096 + 100, 0x5A, 1,
       "MISMATCH, the file's SHA-256 digest does not match the signed one: the file was changed "
       "after it was signed",
       false},
      {"the file header's time stamp changed", nt + 8, 0x5A, 1, "MISMATCH, the file's SHA-256", false},
      {"the checksum changed", nt + 24 + 64, 0x5A, 0, verified.c_str(), true},
      {"the signature value changed", table + signature_value + 4 + 100, 0x5A, 1,
       "MISMATCH, the signer's signature does not hold for what it signs", false},
      {"the table's type changed", table + 6, 0x03, 1,
       "not verified, its certificate table holds no PKCS#7 signature", false},
      {"the message's first byte changed", table + 8, 0x01, 1,
       "not verified, its signature cannot be read: it is not a PKCS#7 SignedData message", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = signed_bytes;
    if (c.at != 0) bytes[c.at] ^= c.flip;
    WriteFileBytes(Path("changed.exe"), bytes);
    const RunResult r = Check("changed.exe");
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(Line(r.out, "signature: ").find(c.line), std::string::npos) << r.out;
    if (c.status != 0) {
      EXPECT_NE(Line(r.out, "verdict: ").find("sign it again"), std::string::npos) << r.out;
    }
    EXPECT_EQ(OsslsigncodeVerifies("changed.exe"), c.osslsigncode_verifies);
  }
  const RunResult sha1 = Check("signed-sha1.exe");
  EXPECT_EQ(sha1.status, 0) << sha1.out;
  EXPECT_NE(Line(sha1.out, "signature: ").find(" bytes, SHA-1, signed by \"CN=Contoso Code Signing"),
            std::string::npos) << sha1.out;
}

// Where the table is, and the directory entry that says so.
uint32_t SecurityEntry(const std::vector<uint8_t>& image) { return Load32(&image[60]) + 24 + 112 + 8 * 4; }

TEST_F(SignedInstaller, TableShapeAndDigestsAsOsslsigncodeReadsThem) {
  Sign("sha256", "signed.exe");
  Sign("sha384", "signed-sha384.exe");
  Sign("sha512", "signed-sha512.exe");
  using Bytes = std::vector<uint8_t>;
  struct Case {
    const char* what;
    const char* signed_file;
    void (*change)(Bytes& image);  // nullptr: as signed
    int status;
    const char* line;  // a part of the report's signature line
    bool osslsigncode_verifies;
  };
  const Case cases[] = {
      {"SHA-384", "signed-sha384.exe", nullptr, 0, "SHA-384, signed by \"CN=Contoso Code Signing",
       true},
      {"SHA-512", "signed-sha512.exe", nullptr, 0, "SHA-512, signed by \"CN=Contoso Code Signing",
       true},
      {"the entry's length its message's alone, the table that length rounded up to 8",
       "signed.exe",
       [](Bytes& b) {
         // The message: a DER SEQUENCE with a two-byte length (30 82 HI LO).
         const uint32_t at = Load32(&b[SecurityEntry(b)]);
         Store32(&b[at], 8 + 4 + (b[at + 10] << 8 | b[at + 11]));
       },
       0, ": verified", true},
      {"the table grown by 512 bytes, the entry's length unchanged", "signed.exe",
       [](Bytes& b) {
         const uint32_t entry = SecurityEntry(b);
         Store32(&b[entry + 4], Load32(&b[entry + 4]) + 512);
         b.resize(b.size() + 512, 0);
       },
       1, "not verified, its certificate table of ", false},
      {"a second entry appended", "signed.exe",
       [](Bytes& b) {
         const uint32_t entry = SecurityEntry(b);
         const uint32_t at = Load32(&b[entry]), size = Load32(&b[entry + 4]);
         const Bytes table(b.begin() + at, b.begin() + at + size);
         b.insert(b.end(), table.begin(), table.end());
         Store32(&b[entry + 4], size * 2);
       },
       1, "holds more than its one entry", false},
      {"revision 0x0100", "signed.exe",
       [](Bytes& b) { Store16(&b[Load32(&b[SecurityEntry(b)]) + 4], 0x0100); }, 1,
       "not verified, its certificate entry has revision 0x0100", false},
      {"bytes after the table", "signed.exe", [](Bytes& b) { b.resize(b.size() + 16, 0); }, 1,
       "not verified, its certificate table does not end the file: 16 bytes follow it", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = ReadFileBytes(Path(c.signed_file));
    if (c.change != nullptr) c.change(bytes);
    WriteFileBytes(Path("changed.exe"), bytes);
    const RunResult r = Check("changed.exe");
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(Line(r.out, "signature: ").find(c.line), std::string::npos) << r.out;
    EXPECT_EQ(OsslsigncodeVerifies("changed.exe"), c.osslsigncode_verifies);
  }
}

TEST_F(SignedInstaller, JsonSaysWhatWasChecked) {
  Sign("sha256", "signed.exe");
  const char* facts =
      "import json, sys\n"
      "s = json.load(sys.stdin)['signature']\n"
      "print(s['present'], s['outcome'], s['digest_algorithm'], s['digest_matches'],"
      " s['signer_signature_valid'], s['signer'], s['chain_judged'])\n";
  const RunResult signed_json = RunProgram(PackerCommand() + " check --json '" + Path("signed.exe") +
                                           "' | python3 -c \"" + facts + "\"");
  EXPECT_EQ(signed_json.out,
            "True verified SHA-256 True True CN=Contoso Code Signing, O=Contoso Ltd, C=US False\n");
  const RunResult unsigned_json = RunProgram(PackerCommand() + " check --json '" + Path("out.exe") +
                                             "' | python3 -c \"" + facts + "\"");
  EXPECT_EQ(unsigned_json.out, "False none None None None None False\n");
}

TEST_F(SignedInstaller, RequireSignatureRejectsWhatIsNotVerified) {
  Sign("sha256", "signed.exe");
  std::vector<uint8_t> changed = ReadFileBytes(Path("signed.exe"));
  changed[5 * 4096 + 100] ^= 0xFF;
  WriteFileBytes(Path("changed.exe"), changed);
  struct Case {
    const char* file;
    int status;
    const char* verdict;
  };
  const Case cases[] = {
      {"signed.exe", 0, "verdict: accepted"},
      {"out.exe", 1, "verdict: rejected: it is not signed, and --require-signature asks for a signature"},
      {"changed.exe", 1, "verdict: rejected: the file's SHA-256 digest does not match"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const RunResult r = Check(c.file, "--require-signature");
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.out.find(c.verdict), std::string::npos) << r.out;
  }
  EXPECT_EQ(Check("out.exe").status, 0) << "without the option, unsigned is fine";
}

}  // namespace
