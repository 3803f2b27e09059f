# Sourced by the scripts that start a listening tarvosh: pick_port prints a
# TCP port on 127.0.0.1 that nothing listens on now, taken below the kernel's
# ephemeral range (outgoing connections take their local ports from that
# range, so a port there may be held by one whatever the listeners).
pick_port() {
  local low port
  low=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
  [ "$low" -gt 21024 ] 2>/dev/null || low=32768
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % (low - 20000)))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  echo "$port"
}
