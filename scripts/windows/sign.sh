#!/usr/bin/env bash
# Copies the Windows programs into PROGRAMS_DIR as they are delivered: signed with Authenticode when
# a certificate is given, unsigned otherwise, and says which. Signing comes after the delivered
# package has been appended to the app: the signature's hash covers the archive, and anything
# appended after signing would break it (docs/windows.md).
#
# Usage: sign.sh PROGRAMS_DIR PROGRAM...
# Environment: VFU_WINDOWS_CERTIFICATE (a PKCS#12 file with the certificate, its chain and its key;
# never in the repository), VFU_WINDOWS_CERTIFICATE_PASSWORD (its password, passed to osslsigncode
# through a pipe, not on its command line), VFU_WINDOWS_TIMESTAMP_URL (optional: an RFC 3161
# time-stamp server, so that the signature outlives the certificate; a release sets it).
set -euo pipefail

programs_dir="$1"
shift
mkdir -p "$programs_dir"

certificate="${VFU_WINDOWS_CERTIFICATE:-}"
if [ -z "$certificate" ]; then
  for program in "$@"; do
    cp "$program" "$programs_dir/"
  done
  echo "Windows build: the programs are not signed (set VFU_WINDOWS_CERTIFICATE and VFU_WINDOWS_CERTIFICATE_PASSWORD to sign them)"
  exit 0
fi

[ -f "$certificate" ] || { echo "sign.sh: no such certificate file: $certificate" >&2; exit 1; }
bash "$(dirname "$0")/../install-deps.sh" osslsigncode openssl

timestamp=()
[ -n "${VFU_WINDOWS_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$VFU_WINDOWS_TIMESTAMP_URL")

for program in "$@"; do
  target="$programs_dir/$(basename "$program")"
  rm -f "$target"
  # osslsigncode never writes over its input: it signs the build's program into the copy.
  osslsigncode sign -pkcs12 "$certificate" -readpass <(printf '%s' "${VFU_WINDOWS_CERTIFICATE_PASSWORD:-}") \
    -h sha256 -n "Quillbox Firmware Updater" "${timestamp[@]}" -in "$program" -out "$target" > /dev/null
done
subject="$(openssl pkcs12 -in "$certificate" -passin fd:3 -nokeys -clcerts 3< <(printf '%s' "${VFU_WINDOWS_CERTIFICATE_PASSWORD:-}") 2> /dev/null \
  | openssl x509 -noout -subject 2> /dev/null | sed 's/^subject= *//' || true)"
echo "Windows build: signed $(cd "$programs_dir" && ls -1 | tr '\n' ' ')with Authenticode (${subject:-certificate $certificate})${timestamp:+, time-stamped}"
