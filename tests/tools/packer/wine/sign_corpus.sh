#!/usr/bin/env bash
# sign_corpus.sh DIRECTORY: the signed installers of the parity corpus (verdict_parity_test.cpp),
# made from its shipped installer with osslsigncode, a host tool, after the Windows test program
# made the rest: one signed with SHA-512, and three whose certificate table Windows and
# osslsigncode do not read (grown past its entry, a second entry appended, revision 0x0100).
# check refuses those three whatever the stub does; the stub, which reads no signature, runs.
set -eu
cd "$1"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Lumora Corpus Signing' \
  -keyout signing-key.pem -out signing-cert.pem 2>/dev/null
sign() {  # DIGEST OUT
  rm -f "$2"
  osslsigncode sign -h "$1" -certs signing-cert.pem -key signing-key.pem -in pack_shipped.exe \
    -out "$2" >/dev/null
}
sign sha512 sig_sha512.exe
sign sha256 signed.unchanged
python3 - <<'PY'
import struct
signed = open('signed.unchanged', 'rb').read()
entry = struct.unpack_from('<I', signed, 60)[0] + 24 + 112 + 8 * 4
offset, size = struct.unpack_from('<II', signed, entry)
def write(name, data):
    open(name, 'wb').write(data)
grown = bytearray(signed) + bytes(512)
struct.pack_into('<I', grown, entry + 4, size + 512)
write('sig_grown.exe', grown)
second = bytearray(signed) + signed[offset:offset + size]
struct.pack_into('<I', second, entry + 4, size * 2)
write('sig_second.exe', second)
revision = bytearray(signed)
struct.pack_into('<H', revision, offset + 4, 0x0100)
write('sig_revision.exe', revision)
PY
rm -f signed.unchanged
# osslsigncode's own verdicts, which check must share: the first verifies, the others do not.
osslsigncode verify -CAfile signing-cert.pem -in sig_sha512.exe >/dev/null 2>&1
for refused in sig_grown.exe sig_second.exe sig_revision.exe; do
  if osslsigncode verify -CAfile signing-cert.pem -in "$refused" >/dev/null 2>&1; then
    echo "osslsigncode verifies $refused" >&2
    exit 1
  fi
done
