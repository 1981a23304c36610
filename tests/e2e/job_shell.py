# SPDX-License-Identifier: BSD-2-Clause
"""A minimal job-control shell for the terminal tests.

    job_shell.py fg|bg OUT COMMANDS_FD PROGRAM [ARG ...]

Standard input must be a terminal that no session controls yet (the slave side of a fresh
pseudo-terminal), and the shell must lead a session of its own (start it with
start_new_session=True). The shell makes the terminal its controlling terminal and runs PROGRAM
as a job in a process group of its own, in the foreground or in the background, with standard
output and standard error going to the file OUT. As an interactive shell does, it ignores SIGTTOU
and takes the terminal back when the job stops.

Commands, one a line on descriptor COMMANDS_FD: "fg" gives the job the terminal and continues it
(as the shell's fg does); "bg" continues it in the background (as bg does). Events, one a line on standard output: "started PID", "stopped SIGNAL",
"continued", "exited STATUS" or "signalled SIGNAL" (then the shell ends).
"""

import fcntl
import os
import signal
import sys
import termios
import threading


def report(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def main():
    mode, out_path, commands_fd = sys.argv[1], sys.argv[2], int(sys.argv[3])
    program = sys.argv[4:]
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    out = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    pid = os.fork()
    if pid == 0:
        os.setpgid(0, 0)
        if mode == "fg":
            os.tcsetpgrp(0, os.getpid())
        for restored in (signal.SIGTTOU, signal.SIGPIPE):
            signal.signal(restored, signal.SIG_DFL)
        os.dup2(out, 1)
        os.dup2(out, 2)
        os.close(out)
        os.close(commands_fd)
        try:
            os.execvp(program[0], program)
        finally:
            os._exit(127)
    os.close(out)
    try:
        os.setpgid(pid, pid)
    except OSError:
        pass  # the child has done it already (and may have exec'd)
    if mode == "fg":
        os.tcsetpgrp(0, pid)
    report("started %d" % pid)

    def commands():
        with os.fdopen(commands_fd) as stream:
            for command in stream:
                if command.strip() == "fg":
                    os.tcsetpgrp(0, pid)
                if command.strip() in ("fg", "bg"):
                    os.killpg(pid, signal.SIGCONT)

    threading.Thread(target=commands, daemon=True).start()
    while True:
        _, status = os.waitpid(pid, os.WUNTRACED | os.WCONTINUED)
        if os.WIFSTOPPED(status):
            os.tcsetpgrp(0, os.getpgrp())
            report("stopped %d" % os.WSTOPSIG(status))
        elif os.WIFCONTINUED(status):
            report("continued")
        elif os.WIFEXITED(status):
            report("exited %d" % os.WEXITSTATUS(status))
            return
        elif os.WIFSIGNALED(status):
            report("signalled %d" % os.WTERMSIG(status))
            return


if __name__ == "__main__":
    main()
