#!/usr/bin/env python3
"""Runs one change of an archive many times, each time cut short another way,
and prints one line per run for crash_safety_test.sh to judge.

  crash_sweep.py kill   ARCHIVE PRISTINE COUNT NEXT -- COMMAND...
      kill -9 at COUNT random instants of the command's run (spread over the
      time an uncut run takes), then NEXT (a shell command) on the same archive.
  crash_sweep.py audit  TRACE ARCHIVE
      reads an `strace -f -y` log of a change of ARCHIVE and prints every
      write to the archive's own file, and whether the new file was created
      exclusively, flushed after its last write and before the rename that
      gave it the archive's name, and the folder flushed after that rename;
      exit status 1 when anything is wrong.
  crash_sweep.py inject ARCHIVE PRISTINE ACTION SYSCALLS NEXT -- COMMAND...
      for every named system call (comma separated) and every Nth call of it
      (sampled where there are many), the command under strace with
      -e inject=CALL:ACTION:when=N; ACTION is e.g. signal=KILL or error=ENOSPC
      (error=... may name another errno per call: fsync=EIO).

Before each run ARCHIVE is made a copy of PRISTINE again. Each line:
  run WHAT STATUS SHA256 LEFT_AFTER_RUN NEXT_STATUS LEFT_AFTER_NEXT PRINTED
STATUS is the exit status or "killed"; LEFT_* are the files the run added to
the archive's folder (comma separated, "-" for none); PRINTED is 1 when the
run wrote anything to its standard output. A NEXT of "-" is not run.
"""
import hashlib
import re
import os
import random
import shutil
import signal
import subprocess
import sys
import time

STRACE = "/usr/bin/strace"
MAX_POINTS_PER_CALL = 12


def digest(path):
    if not os.path.exists(path):
        return "missing"
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def restore(archive, pristine):
    # A fresh inode each time: a run that was killed may still be named by a
    # leftover, and the copy must not share blocks with the pristine file.
    tmp = archive + ".restoring"
    shutil.copyfile(pristine, tmp)
    shutil.copymode(pristine, tmp)
    os.replace(tmp, archive)


def listing(folder):
    return set(os.listdir(folder))


def status_of(code):
    return "killed" if code == -signal.SIGKILL else str(code if code >= 0 else 128 - code)


def run_next(next_command):
    if next_command == "-":
        return "-"
    return str(subprocess.run(next_command, shell=True, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode)


def report(what, code, archive, folder, before, next_command, printed):
    outcome = digest(archive)
    left = sorted(listing(folder) - before)
    next_status = run_next(next_command)
    after = sorted(listing(folder) - before)
    print("run %s %s %s %s %s %s %d" % (what, status_of(code), outcome, ",".join(left) or "-",
                                        next_status, ",".join(after) or "-", 1 if printed else 0), flush=True)


def kill_sweep(archive, pristine, count, next_command, command):
    folder = os.path.dirname(os.path.abspath(archive))
    durations = []
    for _ in range(3):
        restore(archive, pristine)
        start = time.monotonic()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        durations.append(time.monotonic() - start)
    span = sorted(durations)[1]
    rng = random.Random()
    for _ in range(count):
        restore(archive, pristine)
        before = listing(folder)
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, span))
        process.kill()
        out, _ = process.communicate()
        report("kill", process.returncode, archive, folder, before, next_command, out)


def calls_per_thread(command, calls):
    log = os.path.join(os.environ.get("TMPDIR", "/tmp"), "crash-sweep-count-%d" % os.getpid())
    subprocess.run([STRACE, "-f", "-qq", "-o", log, "-e", "trace=" + ",".join(calls)] + command,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    counts = {}
    with open(log) as f:
        for line in f:
            parts = line.split(None, 1)
            if len(parts) < 2:
                continue
            name = parts[1].split("(", 1)[0]
            if name in calls:
                key = (parts[0], name)
                counts[key] = counts.get(key, 0) + 1
    os.remove(log)
    most = {}
    for (_, name), n in counts.items():
        most[name] = max(most.get(name, 0), n)
    return most


def sample(total):
    if total <= MAX_POINTS_PER_CALL:
        return list(range(1, total + 1))
    picked = {1, 2, total - 1, total}
    step = total / (MAX_POINTS_PER_CALL - 4)
    picked.update(int(1 + i * step) for i in range(MAX_POINTS_PER_CALL - 4))
    return sorted(p for p in picked if 1 <= p <= total)


def inject_sweep(archive, pristine, action, calls, next_command, command):
    folder = os.path.dirname(os.path.abspath(archive))
    restore(archive, pristine)
    most = calls_per_thread(command, calls)
    for call in calls:
        # error=ENOSPC,fsync=EIO: the errno of one call may differ.
        this_action = action
        if action.startswith("error="):
            errors = dict(item.split("=", 1) for item in action[len("error="):].split(",")[1:])
            this_action = "error=" + errors.get(call, action[len("error="):].split(",")[0])
        for n in sample(most.get(call, 0)):
            restore(archive, pristine)
            before = listing(folder)
            traced = subprocess.run([STRACE, "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                                     "-e", "inject=%s:%s:when=%d" % (call, this_action, n)] + command,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            # strace answers the tracee's status; a killed tracee kills strace
            # with the same signal (or gives 128 + signal).
            code = traced.returncode
            if code in (128 + signal.SIGKILL, -signal.SIGKILL):
                code = -signal.SIGKILL
            report("%s#%d" % (call, n), code, archive, folder, before, next_command, traced.stdout)


WRITING_CALLS = ("write", "pwrite64", "writev", "pwritev", "pwritev2", "ftruncate", "fallocate")


def audit(trace, archive):
    archive = os.path.realpath(archive)
    folder = os.path.dirname(archive)
    replacement = re.compile(re.escape(archive) + r"~[0-9a-f]{12}\.tmp")
    call = re.compile(r"^\d+\s+(?:<\.\.\. )?(\w+)(?: resumed>)?\(?(.*)$")
    problems = []
    original = set()       # descriptors of the archive's own file
    new_fd = None          # the descriptor of the new file
    new_name = None
    last_write = flushed = renamed = folder_flushed = None
    with open(trace) as f:
        lines = f.read().splitlines()
    for index, line in enumerate(lines):
        match = call.match(line)
        if not match:
            continue
        name, rest = match.groups()
        opened = re.search(r"= (\d+)<([^>]*)>$", rest)
        if name in ("openat", "open") and opened and renamed is None:
            fd, path = int(opened.group(1)), opened.group(2)
            if path == archive:
                original.add(fd)
            elif replacement.fullmatch(path) and "O_CREAT" in rest:
                # (Without O_CREAT: a check of a file a killed run left.)
                new_fd, new_name = fd, path
                if "O_EXCL" not in rest:
                    problems.append("the new file is not created exclusively: " + line)
            continue
        first = re.match(r"(\d+)<", rest)
        fd = int(first.group(1)) if first else None
        if name == "close" and fd in original:
            original.discard(fd)
        if name in WRITING_CALLS and fd in original:
            problems.append("writes to the archive's own file: " + line)
        if name == "copy_file_range":
            target = re.match(r"\d+<[^>]*>, [^,]*, (\d+)<", rest)
            if target and int(target.group(1)) in original:
                problems.append("copies into the archive's own file: " + line)
            if target and int(target.group(1)) == new_fd:
                last_write = index
        if name == "mmap" and "PROT_WRITE" in rest and "MAP_SHARED" in rest:
            mapped = re.search(r"MAP_SHARED[^,]*, (\d+)<", rest)
            if mapped and int(mapped.group(1)) in original:
                problems.append("maps the archive's own file for writing: " + line)
        if name in WRITING_CALLS and fd == new_fd and renamed is None:
            last_write = index
        if name in ("fsync", "fdatasync") and fd == new_fd and renamed is None:
            flushed = index
        if name in ("rename", "renameat", "renameat2") and new_name and '"%s"' % new_name in rest and \
                re.search(r'"%s"' % re.escape(archive), rest.split(new_name, 1)[1]):
            renamed = index
        if name == "fsync" and renamed is not None and re.match(r"\d+<%s>" % re.escape(folder), rest):
            folder_flushed = index
    if new_name is None:
        problems.append("no new file beside the archive was made")
    if renamed is None:
        problems.append("the new file never took the archive's name")
    elif flushed is None or (last_write is not None and flushed < last_write):
        problems.append("the new file is not flushed after its last write and before its rename")
    if renamed is not None and folder_flushed is None:
        problems.append("the folder is not flushed after the rename")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


def main():
    args = sys.argv[1:]
    split = args.index("--") if "--" in args else len(args)
    head, command = args[:split], args[split + 1:]
    mode = head[0]
    if mode == "kill":
        _, archive, pristine, count, next_command = head
        kill_sweep(archive, pristine, int(count), next_command, command)
    elif mode == "audit":
        sys.exit(audit(head[1], head[2]))
    elif mode == "inject":
        _, archive, pristine, action, calls, next_command = head
        inject_sweep(archive, pristine, action, calls.split(","), next_command, command)
    else:
        sys.exit("unknown mode " + mode)


if __name__ == "__main__":
    main()
