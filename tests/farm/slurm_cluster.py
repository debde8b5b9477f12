"""A private single-node Slurm cluster for tests: munge with a throwaway key,
slurmctld and slurmd on loopback ports, every file (configuration, state,
spool, logs, sockets) in one temporary directory. Nothing outside it is
touched, no network is needed, and the daemons are stopped by their process
ids.

    with SlurmCluster(directory) as cluster:
        subprocess.run(["sbatch", ...], env=cluster.env)
"""
import os
import pwd
import secrets
import shutil
import signal
import socket
import subprocess
import time

SBIN = ["/usr/sbin", "/usr/bin"]


def find(program):
    path = shutil.which(program, path=os.pathsep.join(SBIN + [os.environ.get("PATH", "")]))
    if path is None:
        raise RuntimeError(f"{program} is not installed (tools/setup installs it)")
    return path


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SlurmCluster:
    def __init__(self, directory, cpus=2, partition="render"):
        self.dir = os.path.abspath(directory)
        self.cpus = cpus
        self.partition = partition
        self.pids = {}
        self.processes = {}
        self.env = dict(os.environ)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def completed_jobs(self):
        """{job id: {field: value}} of every finished job, from the job
        completion log."""
        jobs = {}
        for line in self.log("jobcomp.txt").splitlines():
            fields = dict(f.split("=", 1) for f in line.split() if "=" in f)
            jobs[fields.get("JobId")] = fields
        return jobs

    def log(self, name):
        try:
            with open(self.path("log", name), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        for sub in ("munge", "log", "state", "spool"):
            os.makedirs(self.path(sub), mode=0o700, exist_ok=True)
        os.chmod(self.dir, 0o755)
        self.start_munge()
        self.write_config()
        self.env["SLURM_CONF"] = self.path("slurm.conf")
        self.start_daemon("slurmctld", [find("slurmctld"), "-D", "-i", "-f", self.path("slurm.conf")])
        self.start_daemon("slurmd", [find("slurmd"), "-D", "-N", "node1", "-f", self.path("slurm.conf")])
        self.wait_idle()

    def start_munge(self):
        key = self.path("munge", "munge.key")
        with open(key, "wb") as f:
            f.write(secrets.token_bytes(1024))
        os.chmod(key, 0o400)
        self.socket = self.path("munge", "munge.socket")
        pid_file = self.path("munge", "munged.pid")
        subprocess.run(
            [find("munged"), "--force", f"--socket={self.socket}", f"--key-file={key}",
             f"--pid-file={pid_file}", f"--log-file={self.path('log', 'munged.log')}",
             f"--seed-file={self.path('munge', 'munged.seed')}"],
            check=True, capture_output=True)
        # munged forks into the background and writes its pid file.
        for _ in range(100):
            if os.path.exists(pid_file) and os.path.getsize(pid_file) > 0:
                break
            time.sleep(0.05)
        with open(pid_file) as f:
            self.pids["munged"] = int(f.read().split()[0])

    def write_config(self):
        user = pwd.getpwuid(os.getuid()).pw_name
        lines = [
            "ClusterName=skyloomtest",
            "SlurmctldHost=localhost(127.0.0.1)",
            f"SlurmctldPort={free_port()}",
            f"SlurmdPort={free_port()}",
            f"SlurmUser={user}",
            f"SlurmdUser={user}",
            "AuthType=auth/munge",
            "CredType=cred/munge",
            f"AuthInfo=socket={self.socket}",
            f"StateSaveLocation={self.path('state')}",
            f"SlurmdSpoolDir={self.path('spool')}",
            f"SlurmctldPidFile={self.path('slurmctld.pid')}",
            f"SlurmdPidFile={self.path('slurmd.pid')}",
            f"SlurmctldLogFile={self.path('log', 'slurmctld.log')}",
            f"SlurmdLogFile={self.path('log', 'slurmd.log')}",
            "SlurmctldDebug=info",
            "SlurmdDebug=info",
            "ProctrackType=proctrack/linuxproc",
            "TaskPlugin=task/none",
            "JobAcctGatherType=jobacct_gather/none",
            "AccountingStorageType=accounting_storage/none",
            "JobCompType=jobcomp/filetxt",
            f"JobCompLoc={self.path('log', 'jobcomp.txt')}",
            "SchedulerType=sched/backfill",
            "SelectType=select/cons_tres",
            "SelectTypeParameters=CR_CPU",
            "MpiDefault=none",
            "ReturnToService=2",
            "SlurmdTimeout=30",
            "MinJobAge=3600",
            "KillWait=2",
            f"NodeName=node1 NodeHostname={socket.gethostname()} NodeAddr=127.0.0.1 "
            f"CPUs={self.cpus} State=UNKNOWN",
            # The partition the tests name is not the default one: a job that
            # lands in it was sent there.
            "PartitionName=debug Nodes=node1 Default=YES MaxTime=INFINITE State=UP",
            f"PartitionName={self.partition} Nodes=node1 Default=NO MaxTime=INFINITE State=UP",
        ]
        with open(self.path("slurm.conf"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def start_daemon(self, name, command):
        with open(self.path("log", name + ".out"), "wb") as out:
            process = subprocess.Popen(command, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                       stdin=subprocess.DEVNULL, start_new_session=True)
        self.pids[name] = process.pid
        self.processes[name] = process
        time.sleep(0.5)
        if process.poll() is not None:
            raise RuntimeError(f"{name} exited with {process.returncode}:\n"
                               + self.log(name + ".out") + self.log(name + ".log"))

    def wait_idle(self, timeout=60):
        deadline = time.time() + timeout
        state = ""
        while time.time() < deadline:
            r = subprocess.run([find("sinfo"), "-h", "-N", "-o", "%T"], env=self.env,
                               capture_output=True, text=True)
            state = (r.stdout + r.stderr).strip()
            if r.returncode == 0 and state.startswith("idle"):
                return
            time.sleep(0.5)
        raise RuntimeError("the node never became idle: " + state + "\n"
                           + self.log("slurmctld.log")[-3000:] + self.log("slurmd.log")[-3000:])

    def stop(self):
        processes = self.processes
        for name in ("slurmd", "slurmctld", "munged"):
            pid = self.pids.pop(name, None)
            if pid is None:
                continue
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                continue
            process = processes.get(name)
            deadline = time.time() + 15
            while time.time() < deadline:
                if process is not None:
                    if process.poll() is not None:
                        break
                else:
                    try:
                        os.kill(pid, 0)
                    except ProcessLookupError:
                        break
                time.sleep(0.1)
            else:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
