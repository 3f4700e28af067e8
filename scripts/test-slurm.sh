#!/usr/bin/env bash
# `make test-slurm`: conversions under a real scheduler. Starts a one-node
# Slurm cluster on this machine (munged with a key of its own, slurmctld and
# slurmd as children of this script, their configuration and state under
# BUILD/slurm), submits a job array of 12 conversions that merge three
# variables of four ensemble members made from the shared GFS file into one
# output, cancels two of them mid-run with scancel, resubmits those two, and
# checks that the output equals the same conversions run one after another
# without the scheduler, and that no lock file is left. Every daemon is
# stopped on the way out, also when a step fails.
#
# usage: test-slurm.sh [build dir]   (KELVANE_SLURM_PORT: slurmctld's port,
# slurmd takes the next one; default 16817)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
gfs=$root/../shared/data/grib/gfs.t12z.pgrbf120.2p5deg.grib2
kelvane=$build/bin/kelvane
work=$build/slurm
port=${KELVANE_SLURM_PORT:-16817}
host=$(hostname -s)

say() { echo "test-slurm: $*"; }
fail() {
  echo "test-slurm: FAILED: $*" >&2
  exit 1
}

if [[ ! -r $gfs ]]; then
  say "skipped: the shared GFS file $gfs is absent"
  exit 0
fi
[[ -x $kelvane ]] || fail "$kelvane is not built"
for tool in munged slurmctld slurmd sbatch scancel squeue scontrol grib_filter ncdump; do
  command -v "$tool" >/dev/null || fail "$tool is missing (make test-slurm installs it)"
done
# slurmd initialises its cgroup plugin whatever the tracking and task
# plugins, and ends without a cgroup file system (a chroot without /sys).
if [[ ! -d /sys/fs/cgroup ]] || [[ -z $(ls -A /sys/fs/cgroup 2>/dev/null) ]]; then
  fail "no cgroup file system at /sys/fs/cgroup: slurmd cannot start (mount /sys in this root)"
fi

# ---- the daemons, stopped by their ids on any way out ----------------------
daemons=()
stop_cluster() {
  local status=$?
  trap - EXIT INT TERM
  if [[ ${#daemons[@]} -gt 0 ]]; then
    # Jobs first, so that no job step outlives its slurmd.
    local jobs
    jobs=$(squeue -h -o %A 2>/dev/null || true)
    [[ -z $jobs ]] || scancel $jobs 2>/dev/null || true
    for _ in $(seq 60); do
      [[ -z $(squeue -h -o %A 2>/dev/null) ]] && break
      sleep 0.5
    done
    for ((k = ${#daemons[@]} - 1; k >= 0; k--)); do
      kill "${daemons[k]}" 2>/dev/null || true
      wait "${daemons[k]}" 2>/dev/null || true
    done
    say "cluster stopped"
  fi
  exit "$status"
}
trap stop_cluster EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

show_log() { echo "--- $1" >&2; tail -n 20 "$1" >&2 || true; }

# ---- inputs: t, gh and r on pressure levels, members 0 to 3 ----------------
# Member m is the GFS file's fields with m added to every value, one file per
# level (as a model writing a file per level would), so that a member in the
# wrong slot shows in the values.
rm -rf "$work"
mkdir -p "$work"/{inputs,started,log}
variables=(t gh r)
members=(0 1 2 3)
: > "$work/tasks"
for m in "${members[@]}"; do
  for v in "${variables[@]}"; do
    mkdir -p "$work/inputs/$v.m$m"
    echo "$v $m" >> "$work/tasks"
  done
  cat > "$work/member.rules" <<EOF
if ((shortName is "t" || shortName is "gh" || shortName is "r") && typeOfLevel is "isobaricInhPa") {
  set productDefinitionTemplateNumber = 1;
  set typeOfEnsembleForecast = 3;
  set numberOfForecastsInEnsemble = ${#members[@]};
  set perturbationNumber = $m;
  set offsetValuesBy = $m;
  write "$work/inputs/[shortName].m$m/[level].grib2";
}
EOF
  grib_filter "$work/member.rules" "$gfs"
done
tasks=$(wc -l < "$work/tasks")

# One table for every task: a merge keeps only the variables its table
# names, so each run names all three and gives the fields of one.
levels="1000;925;850;700;500;400;300;250;200;150;100"
{
  printf '%s\n' "merge" "settings" ",1,grib,2.0" "area" "0,357.5,-90,90" "group" "columns" "descriptions"
  for v in "${variables[@]}"; do
    echo "$v,,Isobaric surface,,,,,0,0,${v^^},,,,,$levels,4,1"
  done
} > "$work/merge.csv"

# The job: task N converts the variable and member on line N+1 of tasks into
# the output given as its argument. Its inputs are named from their folder,
# so that the output's history (16 KiB at most) holds all twelve runs.
cat > "$work/job.sh" <<EOF
#!/bin/bash
set -eu
read -r variable member < <(sed -n "\$((SLURM_ARRAY_TASK_ID + 1))p" "$work/tasks")
cd "$work/inputs"
inputs=()
for f in "\$variable.m\$member"/*.grib2; do inputs+=(-i "\$f"); done
touch "$work/started/\${SLURM_ARRAY_JOB_ID}_\${SLURM_ARRAY_TASK_ID}"
exec "$kelvane" "\${inputs[@]}" -o "\$1" -s "$work/merge.csv"
EOF
chmod +x "$work/job.sh"

# ---- the reference: every task one after another, no scheduler -------------
say "reference: $tasks conversions one after another"
for ((i = 0; i < tasks; i++)); do
  SLURM_ARRAY_JOB_ID=ref SLURM_ARRAY_TASK_ID=$i "$work/job.sh" "$work/reference.nc" \
    > "$work/log/ref-$i.out" 2> "$work/log/ref-$i.err" || { show_log "$work/log/ref-$i.err"; fail "reference task $i"; }
done

# ---- the cluster -------------------------------------------------------------
(
  umask 077
  mkdir -p "$work"/{munge,state,spool}
  head -c 1024 /dev/urandom > "$work/munge/munge.key"
)
munged --foreground --force --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/log/munged.log" \
  --seed-file="$work/munge/seed" > "$work/log/munged.stdout" 2>&1 &
daemons+=($!)
for _ in $(seq 100); do [[ -S $work/munge/socket ]] && break; sleep 0.1; done
munge -S "$work/munge/socket" -n | unmunge -S "$work/munge/socket" > /dev/null ||
  { show_log "$work/log/munged.log"; fail "munged does not answer"; }

cat > "$work/slurm.conf" <<EOF
ClusterName=kelvane
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
KillWait=10
MinJobAge=3600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=kelvane Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm.conf

slurmctld -D -i > "$work/log/slurmctld.stdout" 2>&1 &
daemons+=($!)
slurmd -D -N "$host" > "$work/log/slurmd.stdout" 2>&1 &
daemons+=($!)
for _ in $(seq 120); do
  state=$(sinfo -h -n "$host" -o %T 2>/dev/null || true)
  [[ $state == idle ]] && break
  for pid in "${daemons[@]}"; do
    kill -0 "$pid" 2>/dev/null || { show_log "$work/log/slurmctld.log"; show_log "$work/log/slurmd.log"; fail "a daemon ended"; }
  done
  sleep 0.5
done
[[ $state == idle ]] || { show_log "$work/log/slurmctld.log"; show_log "$work/log/slurmd.log"; fail "node $host is '$state', not idle"; }
say "cluster up: node $host, $(nproc) CPUs"

# ---- the array, two tasks cancelled mid-run, those two resubmitted --------
output=$work/out.nc
submit() {
  sbatch --parsable --array="$1" --cpus-per-task=1 --chdir="$work" --job-name=kelvane \
    --output="$work/log/job-%A_%a.out" --error="$work/log/job-%A_%a.err" "$work/job.sh" "$output"
}
job_state() { scontrol -o show job "$1" 2>/dev/null | grep -o 'JobState=[A-Z_]*' | cut -d= -f2; }
array=$(submit "0-$((tasks - 1))")
say "submitted array $array: tasks 0-$((tasks - 1))"

# A task is cancelled once it runs the program, at a moment of its run (while
# it reads, waits for the lock or holds it); one that finished before the
# cancel reached it is passed by for the next task that has not started.
cancelled=()
for ((task = 2; task < tasks && ${#cancelled[@]} < 2; task++)); do
  id=${array}_$task
  [[ -e $work/started/$id ]] && continue
  for _ in $(seq 1200); do
    [[ -e $work/started/$id ]] && break
    sleep 0.1
  done
  [[ -e $work/started/$id ]] || fail "task $task never started"
  sleep "0.$((RANDOM % 3))"
  [[ $(job_state "$id") == RUNNING ]] && scancel "$id"
  for _ in $(seq 300); do
    state=$(job_state "$id")
    [[ $state == RUNNING || $state == COMPLETING ]] || break
    sleep 0.1
  done
  if [[ $state == CANCELLED ]]; then
    cancelled+=("$task")
    # Ended by the SIGTERM itself, not by the SIGKILL that follows KillWait.
    code=$(scontrol -o show job "$id" | grep -o 'ExitCode=[0-9:]*')
    [[ $code == ExitCode=0:15 ]] || fail "task $task, cancelled, ended with $code, not by SIGTERM"
    err=$work/log/job-$id.err
    if grep -q 'ended by signal' "$err"; then
      say "task $task cancelled holding the lock: $(grep -h 'ended by signal' "$err")"
    elif grep -q 'waiting for the lock' "$err"; then
      say "task $task cancelled while waiting for the lock"
    else
      say "task $task cancelled while reading its inputs"
    fi
  else
    say "task $task ended $state before the cancel reached it; the next one is cancelled instead"
  fi
done
[[ ${#cancelled[@]} -eq 2 ]] || fail "two tasks could not be cancelled while running"
again=$(submit "$(IFS=,; echo "${cancelled[*]}")")
say "resubmitted tasks ${cancelled[*]} as array $again"

for _ in $(seq 1200); do
  [[ -z $(squeue -h -o %A) ]] && break
  sleep 0.5
done
[[ -z $(squeue -h -o %A) ]] || fail "jobs still queued after 10 minutes"

# ---- the checks --------------------------------------------------------------
for ((task = 0; task < tasks; task++)); do
  id=${array}_$task
  [[ " ${cancelled[*]} " == *" $task "* ]] && id=${again}_$task
  line=$(scontrol -o show job "$id")
  if [[ $line != *JobState=COMPLETED* || $line != *"ExitCode=0:0"* ]]; then
    show_log "$work/log/job-$id.err"
    fail "task $id: $(grep -o 'JobState=[A-Z_]* .*ExitCode=[0-9:]*' <<< "$line")"
  fi
done
[[ ! -e $output.tmp ]] || fail "the lock $output.tmp is left"

dump() { ncdump -p 9,17 "$@"; }
# The header without the history (its times and order differ), sorted so
# that the order in which variables came does not count.
header=$(dump -h "$output")
[[ $(sed 1d <<< "$header" | grep -v ':history = ' | sort) == \
   $(dump -h "$work/reference.nc" | sed 1d | grep -v ':history = ' | sort) ]] ||
  fail "the output's header differs from the reference's"
for v in ens level_0 g0_lat_0 g0_lon_0 "${variables[@]^^}"; do
  values=$(dump -v "$v" "$output" | sed -n '/^data:/,$p')
  [[ $values == $(dump -v "$v" "$work/reference.nc" | sed -n '/^data:/,$p') ]] ||
    fail "$v differs from the reference"
  fills=$(tr -s ' ,;\n' '\n' <<< "$values" | grep -c '^9999$' || true)
  [[ $fills -eq 0 ]] || fail "$v holds $fills fill values: a member or level is missing"
done
[[ $(dump -v ens "$output" | sed -n "/^data:/,\$p" | grep -o 'ens = [0-9, ]* ;') == "ens = 0, 1, 2, 3 ;" ]] ||
  fail "the output does not hold the members ${members[*]}"
# Each run is in the history once; a cancelled one may be there twice,
# when the signal came after its output was installed.
task=0
while read -r v m; do
  runs=$(grep -o "Z: [^ ]*kelvane -i $v.m$m/" <<< "$header" | wc -l)
  most=1
  [[ " ${cancelled[*]} " == *" $task "* ]] && most=2
  [[ $runs -ge 1 && $runs -le $most ]] || fail "the output's history names the run of $v, member $m $runs times"
  task=$((task + 1))
done < "$work/tasks"
say "passed: $tasks conversions under Slurm, tasks ${cancelled[*]} cancelled and resubmitted;" \
  "${variables[*]^^} of members ${members[*]} equal the reference, no lock left"
