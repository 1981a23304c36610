# SPDX-License-Identifier: BSD-2-Clause
"""check_bri with the real engines, as Debian ships them, each started by the test on loopback
only, in a folder of its own and stopped by its pid: node_exporter's textfile collector serves the
metrics file, and a Nagios 4 core runs check_bri as a service check against brisim."""

import grp
import os
import pwd
import re
import subprocess
import tempfile
import time
import unittest
import urllib.request

import harness
from harness import Sim
from check_bri_support import CHECK_BRI, check_bri, free_port, scenario, stop, which

NODE_EXPORTER = which("prometheus-node-exporter") or which("node_exporter")
NAGIOS = which("nagios4") or which("/usr/sbin/nagios4")


def wait_until(predicate, timeout, step=0.2):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


@unittest.skipIf(harness.WINE, "the engines run natively")
@unittest.skipUnless(NODE_EXPORTER, "prometheus-node-exporter is not installed")
class NodeExporter(unittest.TestCase):
    def test_textfile_collector_serves_the_metrics(self):
        with Sim() as sim, tempfile.TemporaryDirectory() as folder:
            code, out, _, _ = check_bri(sim, "--prometheus", os.path.join(folder, "bri.prom"))
            self.assertEqual(code, 0, out)
            port = free_port()
            exporter = subprocess.Popen(
                [NODE_EXPORTER, "--web.listen-address=127.0.0.1:%d" % port, "--collector.disable-defaults",
                 "--collector.textfile", "--collector.textfile.directory=" + folder],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                def scrape():
                    try:
                        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=2) as r:
                            return r.read().decode()
                    except OSError:
                        return None
                text = wait_until(scrape, 15)
                self.assertIsNotNone(text, "node_exporter did not answer")
            finally:
                stop(exporter)
                exporter.stderr.close()
            self.assertRegex(text, r"\nnode_textfile_scrape_error 0\n")
            for family in ("bri_up", "bri_line_info", "bri_layer_state", "bri_l1_tx_frames_total",
                           "bri_if_in_octets_total", "bri_scrape_duration_seconds"):
                self.assertIn("# TYPE %s " % family, text)
            self.assertIn('bri_line_up{line="Tessix1 LINE2 (U)"} 1', text)


NAGIOS_CFG = """\
log_file={d}/nagios.log
cfg_file={d}/objects.cfg
object_cache_file={d}/objects.cache
precached_object_file={d}/objects.precache
status_file={d}/status.dat
status_update_interval=1
check_result_path={d}/checkresults
temp_file={d}/nagios.tmp
temp_path={d}
lock_file={d}/nagios.lock
command_file={d}/nagios.cmd
check_external_commands=0
retain_state_information=0
state_retention_file={d}/retention.dat
nagios_user={user}
nagios_group={group}
interval_length=1
service_inter_check_delay_method=n
host_inter_check_delay_method=n
max_service_check_spread=1
max_host_check_spread=1
check_result_reaper_frequency=1
enable_notifications=0
enable_event_handlers=0
enable_flap_detection=0
process_performance_data=0
check_service_freshness=0
check_host_freshness=0
use_syslog=0
log_notifications=0
enable_environment_macros=0
"""

NAGIOS_OBJECTS = """\
define timeperiod {{
  timeperiod_name always
  alias always
  sunday 00:00-24:00
  monday 00:00-24:00
  tuesday 00:00-24:00
  wednesday 00:00-24:00
  thursday 00:00-24:00
  friday 00:00-24:00
  saturday 00:00-24:00
}}
define command {{
  command_name nothing
  command_line /bin/true
}}
define command {{
  command_name check_bri
  command_line /usr/bin/env BRI_DEVICE_DIR=$ARG1$ BRI_REGISTRY=/nonexistent {check_bri} -t 5
}}
define contact {{
  contact_name nobody
  host_notifications_enabled 0
  service_notifications_enabled 0
  host_notification_period always
  service_notification_period always
  host_notification_options n
  service_notification_options n
  host_notification_commands nothing
  service_notification_commands nothing
}}
define host {{
  host_name adapter
  address 127.0.0.1
  check_command nothing
  max_check_attempts 1
  check_period always
  notification_period always
  contacts nobody
}}
"""

NAGIOS_SERVICE = """\
define service {{
  host_name adapter
  service_description {name}
  check_command check_bri!{dir}
  max_check_attempts 1
  check_interval 2
  retry_interval 2
  check_period always
  notification_period always
  contacts nobody
}}
"""


def service_states(status_path):
    """{service description: (current_state, plugin_output)} of the checked services in status.dat."""
    try:
        with open(status_path, encoding="latin-1") as f:
            text = f.read()
    except OSError:
        return {}
    states = {}
    for block in re.findall(r"servicestatus \{(.*?)\}", text, re.S):
        fields = dict(re.findall(r"^\s*(\w+)=(.*)$", block, re.M))
        if fields.get("has_been_checked") == "1":
            states[fields["service_description"]] = (int(fields["current_state"]), fields.get("plugin_output", ""))
    return states


@unittest.skipIf(harness.WINE, "the engines run natively")
@unittest.skipUnless(NAGIOS, "the Nagios 4 core (Debian package nagios4-core) is not installed")
class Nagios(unittest.TestCase):
    def test_service_states_in_status_dat(self):
        expected = {"line_up": 0, "l2_failure": 2, "spid_rejected": 2, "no_driver": 3}
        sims = {name: Sim(scenario(name)) for name in expected if name != "no_driver"}
        try:
            with tempfile.TemporaryDirectory() as d:
                os.mkdir(os.path.join(d, "checkresults"))
                dirs = {name: sim.dir for name, sim in sims.items()}
                dirs["no_driver"] = os.path.join(d, "no-driver")
                # The core runs as the test's own user and group, so that its checks reach the
                # simulators' sockets, which only that user may open.
                user = pwd.getpwuid(os.geteuid()).pw_name
                group = grp.getgrgid(os.getegid()).gr_name
                with open(os.path.join(d, "nagios.cfg"), "w") as f:
                    f.write(NAGIOS_CFG.format(d=d, user=user, group=group))
                with open(os.path.join(d, "objects.cfg"), "w") as f:
                    f.write(NAGIOS_OBJECTS.format(check_bri=os.path.abspath(CHECK_BRI)))
                    for name, folder in dirs.items():
                        f.write(NAGIOS_SERVICE.format(name=name, dir=folder))
                verify = subprocess.run([NAGIOS, "-v", os.path.join(d, "nagios.cfg")], stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, timeout=30)
                if verify.returncode != 0:
                    self.skipTest("the Nagios core rejects its configuration here: " +
                                  verify.stdout.decode(errors="replace")[-500:])
                core = subprocess.Popen([NAGIOS, os.path.join(d, "nagios.cfg")], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, cwd=d)
                try:
                    status = os.path.join(d, "status.dat")
                    states = wait_until(lambda: len(service_states(status)) == len(expected) and
                                        service_states(status), 60, 0.5)
                    ended = core.poll()
                finally:
                    stop(core)
                if ended is not None and not states:
                    with open(os.path.join(d, "nagios.log"), errors="replace") as f:
                        self.skipTest("the Nagios core cannot run here (status %d): %s" % (ended, f.read()[-500:]))
                got = {name: state for name, (state, _) in (states or {}).items()}
                self.assertEqual(got, expected, states)
                self.assertTrue(states["line_up"][1].startswith("BRI OK - 1 of 1 lines up"), states)
        finally:
            for sim in sims.values():
                sim.__exit__(None, None, None)


if __name__ == "__main__":
    unittest.main()
