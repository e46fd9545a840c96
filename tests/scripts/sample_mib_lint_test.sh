#!/bin/bash
# The sample module is valid SMIv2 to libsmi's strictest check, but for what it keeps on purpose:
# the NULL and NsapAddress columns and the Opaque one (syntaxes the tool writes), the module's
# place under the documentation enterprise, and the table indexed by an OBJECT IDENTIFIER.
# Usage: sample_mib_lint_test.sh MIB_CORPUS
set -u
corpus=$1
mib=$(dirname "$0")/../../mibs/VORNEL-VNBEEP-MIB
if [ ! -d "$corpus/ietf" ]; then
  echo "no MIB corpus at $corpus" >&2
  exit 77
fi
found=$(SMIPATH="$corpus/ietf:$corpus/iana" smilint -l 6 "$mib" 2>&1 | grep -F "$mib:" |
  sed -e "s|^$mib:[0-9]*: ||" | sort)
kept=$(sort <<'KEPT'
identifier `NsapAddress' cannot be imported from module `SNMPv2-SMI'
type `NsapAddress' of node `speakerFreqNsap' does not resolve to a known base type
unknown type `NsapAddress'
illegal keyword `NULL'
illegal keyword `NULL'
syntax error, unexpected ','
syntax error, unexpected MAX_ACCESS
warning: flushing recent incorrect declaration, see previous error(s)
warning: flushing recent incorrect declaration, see previous error(s)
unknown object identifier label `speakerFreqMarker'
unknown type `SpeakerFreqEntry'
warning: SMIv2 provides Opaque solely for backward-compatibility
warning: SMIv2 provides Opaque solely for backward-compatibility
warning: implicit node definition
index element `speakerAliasWaveform' of row `speakerAliasEntry' should but cannot have a size restriction
warning: index of row `speakerAliasEntry' can exceed OID size limit by 45 subidentifier(s)
KEPT
)
if [ "$found" != "$kept" ]; then
  echo "smilint -l 6 finds more or less than the sample module keeps:" >&2
  diff <(echo "$kept") <(echo "$found") >&2
  exit 1
fi
