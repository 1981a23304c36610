"""lapmon's keys on a terminal (a pseudo-terminal here): key mode while tracing, the mode as found
afterwards."""

import os
import termios
import time
import unittest

from harness import Sim, wait_for_log
from lapmon_util import (OP_TRACE_STATUS, count_at_least, finish, kill_quietly, line, scenario,
                         start_on_terminal, wait_until)


class TerminalKeysTest(unittest.TestCase):
    def test_keys_are_taken_one_by_one_and_the_mode_is_restored(self):
        with Sim(scenario(line("L1", 0x1001))) as sim:
            proc, master, slave = start_on_terminal(["-raw"], sim)
            try:
                found = proc.terminal_found
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 1))
                # Key mode: no line input, no echo, control keys still signals.
                wait_until(lambda: not termios.tcgetattr(slave)[3] & termios.ICANON)
                lflag = termios.tcgetattr(slave)[3]
                self.assertFalse(lflag & termios.ECHO)
                self.assertTrue(lflag & termios.ISIG)
                os.write(master, b"x\r")
                time.sleep(0.2)
                os.write(master, b"9")
                status, out = finish(proc)
                self.assertEqual(status, 0)
                self.assertEqual(out, "Lines In System:\n L1\nc = x (0x78)\nc = \r (0xd)\n")
                self.assertEqual(termios.tcgetattr(slave), found)
            finally:
                kill_quietly(proc)
                os.close(master)
                os.close(slave)


if __name__ == "__main__":
    unittest.main()
