# Sourced by the benchmarks that measure against snmpd as a peer agent: its table, one constant per
# object, 1,000 rows of 16 columns under PEER_OID.
PEER_OID=.1.3.6.1.4.1.32473.77.1.1

# PeerTableConfig PEER [WRITABLE]: the snmpd.conf lines that serve the table on UDP PEER (host:port
# of 127.0.0.1), read-only, or writable with any WRITABLE.
PeerTableConfig() {
  local peer=$1 access=${2:+-rw }
  echo "agentaddress udp:$peer"
  echo "rocommunity public 127.0.0.1"
  echo "dontLogTCPWrappersConnects yes"
  awk -v base="$PEER_OID" -v access="$access" 'BEGIN {
    for (r = 1; r <= 1000; r++) for (c = 1; c <= 16; c++)
      printf "override %s%s.%d.%d octet_str \"col%02d-value-%05d\"\n", access, base, c, r, c, r }'
}
