#include "cli/usage_text.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/voltage_settings.h"

#ifndef QS71PROG_VERSION
#define QS71PROG_VERSION "unknown"
#endif

namespace qs71prog {

namespace {

// Kept within 80 columns.
const char kOptionsText[] =
    "Usage: qs71prog [options]\n"
    "Programs the OTP memory of a QS71 voice chip through the QS71 USB programmer.\n"
    "\n"
    "Operations (always in this order: blank check, write, verify):\n"
    "  --blank-check          check that the OTP is blank\n"
    "  --write IMAGE          program IMAGE, with a blank check before and a verify\n"
    "                         after unless switched off\n"
    "  --verify IMAGE         compare the OTP with IMAGE\n"
    "  --identify             only identify the chip (ID and OTP size)\n"
    "  --no-blank-check       with --write: no blank check (to finish a part that\n"
    "                         was written only in part)\n"
    "  --no-verify            with --write: no verify\n"
    "  --clear-marker         with --write: program the marker byte (31 bytes before\n"
    "                         the image's end) as 0x00; the file is not changed\n"
    "  --force                take IMAGE as it is, for raw experiments: it need only\n"
    "                         have a part's size. Without it a file that is not a\n"
    "                         QS71 image is refused before the programmer is touched\n"
    "  --no-locate            after a failed blank check or verify, do not search for\n"
    "                         the failing 256-byte blocks (the search compares the\n"
    "                         part one to five more times)\n"
    "\n"
    "Voltages in volts (a trailing V is allowed):\n"
    "  --vdd V                supply voltage for every operation\n";

const char kProgrammerText[] =
    "\n"
    "Programmer:\n"
    "  --library PATH         load this build of the programmer library instead of\n"
    "                         qs71_usb_writer beside qs71prog or on the loader's path\n"
    "  --emulate[=OTPFILE]    dry run on the emulated programmer; with OTPFILE the\n"
    "                         chip is kept in that file between runs, to be\n"
    "                         inspected and programmed again. QS71_EMU_ID and\n"
    "                         QS71_EMU_FAULTS from the environment apply\n"
    "  --transcript FILE      with --emulate: append every report exchanged to FILE\n"
    "  --list                 list the attached programmers: id, path, serial number\n"
    "                         and release\n"
    "  --programmer ID        run on this programmer: its id in --list, its serial\n"
    "                         number or its path (default: the first one found)\n"
    "\n"
    "Production (with --write IMAGE, or --job FILE):\n"
    "  --production           one part after another: wait for a part in the socket,\n"
    "                         blank check, write and verify it, show PASS, FAIL or\n"
    "                         ALREADY (it held this image), wait until it is taken\n"
    "                         out, and again\n"
    "  --count N              stop after N parts (per programmer with --all)\n"
    "  --stop-on-fail         stop at the first part that fails\n"
    "  --log FILE             append CSV rows to FILE: each part's before its write\n"
    "                         and its verdict, and the run's events\n"
    "  --trace FILE           record every part and event into the trace FILE\n"
    "                         (SQLite), or postgresql://... for a line of stations;\n"
    "                         default: $XDG_STATE_HOME/qs71/trace.db\n"
    "  --all                  every attached programmer at once, each its own loop,\n"
    "                         and those plugged in later\n"
    "  --station NAME         the station's name in the log (default: the host's)\n"
    "  --operator NAME        the operator's name in the log\n"
    "  --job-name NAME        the job's name on the screen's first line (--job NAME\n"
    "                         too, when no file has that name)\n"
    "  --expect-programmers N wait until N programmers are attached; more: refused\n"
    "  --expect-sha256 HEX    refuse an image whose SHA-256 is not HEX\n"
    "  --summary FILE         write the shift's summary to FILE as JSON at the end\n"
    "  --no-color             no colour on a terminal (as NO_COLOR does)\n"
    "  --bell                 ring the terminal's bell on FAIL, RESEAT and LOST\n"
    "  With --emulate the parts come from part files: QS71_EMU_PROGRAMMERS=N\n"
    "  programmers, QS71_EMU_SOCKET=DIR with *.otp parts (DIR/k/ for programmer k).\n"
    "  Exit 0 when every part passed, else that of the run's first failure in time\n"
    "  (a part, a programmer still lost, the log); 12 when Ctrl-C ended the run\n"
    "  (after the part under way) and nothing failed; 15 when the job's lot is\n"
    "  complete.\n"
    "\n"
    "Job files (a production job that the operator cannot change):\n"
    "  --make-key KEY         write a new key pair: KEY, the secret key (mode 0600),\n"
    "                         and KEY.pub, the public key for the stations\n"
    "  --make-job JOB         with --write IMAGE: write the job JOB, holding the image\n"
    "                         and what a run may not change: --no-blank-check,\n"
    "                         --no-verify, the voltages, --expect-programmers N,\n"
    "                         --lot N (parts over all its runs, 0 no limit),\n"
    "                         --work-order TEXT, --job-name TEXT\n"
    "  --sign KEY             with --make-job: sign the job with the secret key KEY\n"
    "  --show-job JOB         print what JOB holds, its signer and whether this\n"
    "                         station runs it (--json: as JSON)\n"
    "  --job FILE             with --production: run the job FILE; its image, checks,\n"
    "                         voltages, counts and name cannot be given beside it.\n"
    "                         --job FILE --verify (or --identify): check a part\n"
    "                         against the job's image, writing nothing\n"
    "  --trust FILE           trust this public key too (repeatable). A station that\n"
    "                         trusts a key (--trust, the trust folders, or the\n"
    "                         folder QS71_TRUST_DIR names) runs signed jobs only\n"
    "\n"
    "The station's policy (/etc/qs71/station.toml, or the file QS71_STATION_POLICY\n"
    "names where there is none; only root may be able to change it):\n"
    "  --show-policy          print what this station runs, trusts and records, and\n"
    "                         why. With a policy its keys and its trace are the only\n"
    "                         ones: --trust, QS71_TRUST_DIR, the user's key folder,\n"
    "                         --trace, --library and --write IMAGE --production are\n"
    "                         refused\n"
    "\n"
    "The trace (with --trace FILE or postgresql://..., else the station's own):\n"
    "  --export-csv FILE      write the CSV log of the runs chosen from the trace\n"
    "  --report FILE          write the shift report of the runs chosen as one page;\n"
    "                         --report - prints its figures as text\n"
    "  --run ID, --job HASH, --since TIME\n"
    "                         choose a run, a job (6 or more hex digits of its hash)\n"
    "                         or the runs started since an ISO 8601 UTC time\n"
    "  --clear-refused        with --trace postgresql://...: send again the events\n"
    "                         the line refused; those it refuses again are kept in\n"
    "                         the station's own trace, cleared\n"
    "\n"
    "Output:\n"
    "  --json                 one JSON event per line on standard output\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version\n"
    "\n"
    "On a terminal a bar shows the stage, percentage and time left; otherwise one\n"
    "line per 5 percent. The library's messages are shown as whole lines.\n"
    "\n"
    "A job with an image identifies the chip first and refuses an image of another\n"
    "size before the blank check. Each step is a call of the library of its own.\n"
    "Ctrl-C (or SIGTERM, SIGHUP, SIGQUIT) stops after the step under way, since a\n"
    "write cut short leaves a part to scrap; a second one stops at once. A second\n"
    "qs71prog on the same programmer or chip file is refused (exit 14).\n"
    "\n"
    "Exit codes:\n";

std::string VoltageLines() {
  std::string text;
  for (const VoltageSetting& setting : VoltageSettings()) {
    char line[200];
    std::snprintf(line, sizeof line, "  %-22s %s, default %.1f (%.1f to %.1f)\n",
                  (std::string(setting.option) + " V").c_str(), setting.label, setting.fallback,
                  setting.low, setting.high);
    text += line;
  }
  return text;
}

std::string ExitCodeLines() {
  std::string text;
  for (const ExitCodeInfo& info : ExitCodeTable()) {
    char line[200];
    std::snprintf(line, sizeof line, "  %2d  %-17s %s\n", static_cast<int>(info.code), info.name,
                  info.meaning);
    text += line;
  }
  return text;
}

}  // namespace

std::string UsageText() {
  return kOptionsText + VoltageLines() + kProgrammerText + ExitCodeLines();
}

std::string VersionText() { return std::string("qs71prog ") + QS71PROG_VERSION + "\n"; }

}  // namespace qs71prog
