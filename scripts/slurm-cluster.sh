#!/usr/bin/env bash
# A single-node Slurm cluster on 127.0.0.1 from Debian's packages (slurm-wlm, munge), for running
# seekprobe's job array for real on one machine (as root):
#   scripts/slurm-cluster.sh start DIR   installs what is missing, starts munged, slurmctld and
#                                        slurmd with their files under DIR; prints the line to
#                                        source (export SLURM_CONF=DIR/slurm.conf)
#   scripts/slurm-cluster.sh stop DIR    ends the daemons by the pids they wrote
# Its own munge socket and key and its own ports, so it runs beside any other munge or Slurm.
set -euo pipefail
action=${1:?start or stop} dir=${2:?folder for the cluster\'s files}

stop() {
  local name pid
  for name in slurmd slurmctld munged; do
    pid=$(cat "$dir/$name.pid" 2>/dev/null || true)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  # Gone within ten seconds, or ended hard.
  for name in slurmd slurmctld munged; do
    pid=$(cat "$dir/$name.pid" 2>/dev/null || true)
    for _ in $(seq 50); do { [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; } && break; sleep 0.2; done
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
    rm -f "$dir/$name.pid"
  done
}

if [ "$action" = stop ]; then
  stop
  exit 0
fi
[ "$action" = start ] || { echo "usage: slurm-cluster.sh start|stop DIR" >&2; exit 2; }

missing=()
for p in slurm-wlm munge; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
stop
rm -rf "$dir/munge" "$dir/state" "$dir/spool"
mkdir -p "$dir/munge" "$dir/state" "$dir/spool"
chown munge:munge "$dir/munge"
chmod 700 "$dir/munge"
# munged insists on a key only its user reads, and on a socket folder no one else writes.
mungekey -c -f -k "$dir/munge/munge.key"
chown munge:munge "$dir/munge/munge.key"
chmod 600 "$dir/munge/munge.key"
runuser -u munge -- munged --socket="$dir/munge/socket" --key-file="$dir/munge/munge.key" \
  --pid-file="$dir/munge/munged.pid" --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/seed" --force
for _ in $(seq 50); do [ -s "$dir/munge/munged.pid" ] && break; sleep 0.1; done
cp "$dir/munge/munged.pid" "$dir/munged.pid"

# Two free ports on the loopback for the controller and the node daemon.
read -r ctld_port node_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')

cat >"$dir/slurm.conf" <<CONF
ClusterName=seekprobe
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/socket
CredType=cred/munge
MpiDefault=none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SchedulerType=sched/backfill
ReturnToService=2
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=localhost NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=lab Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$dir/slurm.conf
slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
# The node is ready when the controller sees it idle.
for _ in $(seq 100); do
  sinfo -h -o %t 2>/dev/null | grep -qx idle && { echo "export SLURM_CONF=$SLURM_CONF"; exit 0; }
  sleep 0.2
done
echo "slurm-cluster.sh: the node did not come up; see $dir/slurmctld.log and $dir/slurmd.log" >&2
tail -5 "$dir/slurmctld.log" "$dir/slurmd.log" >&2 || true
exit 1
