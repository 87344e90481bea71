#!/usr/bin/env python3
"""End-to-end runs of ZolvaKeystrip.exe as a management tool starts it: exit codes, the log
file, the help, and a run without a desktop. Same options as wizard_e2e.py, whose harness
(Wine, planting, registry snapshots, the driver) this uses.

    fleet_e2e.py SCENARIO --prefix P --bin DIR --exe EXE --resources DIR --screenshots DIR

Scenarios:
  exitcodes   each -exitcode with a real run: 0 removed (with the log file checked byte by
              byte), 1 a rule that fails, 2 an unknown product (ending without a window),
              3 a log file that cannot be written (the removal still happens) and 3 without
              a display (nothing removed, the log says why); without the new switches: exit
              code 0 and no file written, with and without a display
  help        -help -silent ends at once with 0; -help and -? show the switches and the exit
              codes in a message box and do nothing else (no log, no window, exit code 0)
  log-wizard  the wizard with a -log file that cannot be written: the removal goes on, the
              result page says so, exit code 3; a wizard closed on its first page still
              leaves its log
  allusers    -allusers with four profiles: the running user's, a hive loaded now, a hive
              file the profile list names (made with RegSaveKeyW) and a profile whose
              hive file is missing; every user's traces go, the keys beside them stay,
              the temporary hive is unloaded, the missing one is a warning and code 1
  restore-hostile
              -restore as an attacker would aim it: files a user edited (Run values in both
              views, an IFEO Debugger, the 32-bit IFEO link pointed into the user's hive, a
              new service, a rule's service, ComSpec, HKU\.DEFAULT Run, HKCC and HKCR keys,
              unknown value types, a link section carrying a second section) each write
              nothing and end with 3; a user's plain key with a link's value comes back
              plain with its subkeys; -restore with -product or -backup is refused (3, the
              wizard says so), -preview -restore writes nothing; the whole registry is
              compared after every run; a backup made with -allusers goes back into a
              profile whose hive is loaded for the restore (and is not restored, with 1,
              when its file is gone), never into a key made below HKEY_USERS
"""

import os
import re
import subprocess
import sys
import time

import wizard_e2e as e2e
from wizard_e2e import check

# The product every case removes: the smallest, so that each run is short.
PRODUCT = "Zolva Disk Cleaner"
# Where an administrator would put the log (see docs/deploy.md).
LOG_DIR = r"C:\ProgramData"


def product(products, name=PRODUCT):
    found = [p for p in products if p["name"] == name]
    check(len(found) == 1, "no product %s" % name)
    return found[0]


def unix_path(args, windows_path):
    """Where a C:\\ path of the prefix lies on this machine."""
    check(windows_path[:3].upper() == "C:\\", windows_path)
    return os.path.join(args.prefix, "drive_c", *windows_path[3:].split("\\"))


def run_exe(wine, args, *switches, env=None, timeout=60):
    """Runs the exe to its end; returns its exit code."""
    print("run", *switches, flush=True)
    result = subprocess.run([*wine.wine, args.exe, *switches], env=env or wine.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, timeout=timeout)
    return result.returncode


def exit_code(process, timeout=30):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise e2e.Failure("the program did not end")


def read_log(args, windows_path):
    """The log's text after checking its form: a UTF-8 byte-order mark, CR LF after every
    line and no other line break."""
    path = unix_path(args, windows_path)
    check(os.path.exists(path), "no log file %s" % windows_path)
    data = open(path, "rb").read()
    check(data.startswith(b"\xef\xbb\xbf"), "the log has no UTF-8 byte-order mark")
    check(data.endswith(b"\r\n"), "the log's last line has no CR LF")
    check(data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r"),
          "the log has a line break other than CR LF")
    return data[3:].decode("utf-8")


def check_header(text, switches):
    lines = text.split("\r\n")
    check(lines[:3] == ["Zolva Keystrip", "Copyright (c) 2026 Zolva Software AG.",
                        "All rights reserved."], "log header: %s" % lines[:3])
    check(re.fullmatch(r"Date: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d\d:\d\d", lines[3]),
          "log date line: %s" % lines[3])
    check(re.fullmatch(r"Computer: \S+", lines[4]), "log computer line: %s" % lines[4])
    check(lines[5].startswith("Command line: ") and lines[5].endswith(" ".join(switches)),
          "log command line: %s" % lines[5])
    check(lines[6] == "", "no empty line after the log header")


def quoted(switches):
    """The switches as Wine puts them on the command line."""
    return [('"%s"' % s) if " " in s else s for s in switches]


# --- scenarios -------------------------------------------------------------------

def scenario_exitcodes(wine, args, products):
    chosen = product(products)
    name = chosen["name"]
    drive_c = os.path.join(args.prefix, "drive_c")
    cwd_files = e2e.files_of(os.path.dirname(args.exe))

    # Without any new switch: exit code 0 and no file written, as always.
    before, planted = e2e.plant(wine, products, [chosen])
    keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
    files = e2e.files_of(drive_c)
    rc = run_exe(wine, args, "-silent", "-product", name)
    check(rc == 0, "plain silent run: exit code %d" % rc)
    written = e2e.written_files(files, e2e.files_of(drive_c)) + \
        e2e.written_files(cwd_files, e2e.files_of(os.path.dirname(args.exe)))
    check(not written, "a plain silent run wrote %s" % written)
    e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone),
                        "after the plain silent run")
    print("code 0 without switches, no file written")

    # 0: removed completely; the log holds the header, the report and the result.
    log = LOG_DIR + r"\keystrip-0.log"
    before, planted = e2e.plant(wine, products, [chosen])
    switches = ["-silent", "-product", name, "-exitcode", "-log", log]
    rc = run_exe(wine, args, *switches)
    check(rc == 0, "exit code %d, expected 0" % rc)
    e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone), "after code 0")
    text = read_log(args, log)
    check_header(text, quoted(switches))
    entries = text.split("\r\n\r\n")[1].split("\r\n")
    check(entries[0] == 'Removing product "%s"' % name, "first entry: %s" % entries[0])
    check(entries[-1] == "Done: Success", "last entry: %s" % entries[-1])
    for rule in chosen["removal"]:
        wanted = rule["key"] if rule["action"] == "CompleteKey" else rule["name"]
        check(any(wanted in e and e.endswith(" deleted") for e in entries),
              "the log misses the deletion of %s" % wanted)
    check(text.endswith("Products removed completely: 1 of 1\r\nResult: 0, every requested "
                        "product removed completely, or nothing to remove\r\n"
                        "Exit code: 0\r\n"), "log result: %s" % text[-200:])
    print("code 0 with a log of %d entries" % len(entries))

    # 1: a rule fails. A subkey that refuses full access and has a subkey of its own
    # can be neither emptied nor deleted, so its product key stays.
    top = next(r["key"] for r in chosen["removal"]
               if r["action"] == "CompleteKey" and r["root"] == "HKEY_LOCAL_MACHINE")
    guarded = top + r"\Settings"
    e2e.plant(wine, products, [chosen])
    wine.reg_import("[HKEY_LOCAL_MACHINE\\%s\\Inner]\r\n\"x\"=\"y\"\r\n\r\n" % guarded,
                    "inner.reg")
    log = LOG_DIR + r"\keystrip-1.log"
    check(wine.driver("guard", "HKEY_LOCAL_MACHINE", guarded, "on")[0] == 0, "guard failed")
    try:
        rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-log", log)
    finally:
        check(wine.driver("guard", "HKEY_LOCAL_MACHINE", guarded, "off")[0] == 0,
              "unguard failed")
    check(rc == 1, "exit code %d, expected 1" % rc)
    text = read_log(args, log)
    check('  Key "HKEY_LOCAL_MACHINE\\%s" not deleted (access denied or locked)' % top in text,
          "the log misses the failed rule")
    check("Problem: Not removed completely (a removal rule failed): %s\r\n" % name in text,
          "the log misses the problem")
    check("\r\nResult: 1, " in text and text.endswith("Exit code: 1\r\n"), "log result")
    print("code 1 with the failed rule in the log")

    # 2: -product names no known product. Silent with -exitcode, the run does not show
    # its window after all (no one would close it) but ends with its code.
    log = LOG_DIR + r"\keystrip-2.log"
    rc = run_exe(wine, args, "-silent", "-exitcode", "-product", "Zolva Nothing At All", "-log",
                 log, timeout=30)
    check(rc == 2, "exit code %d, expected 2" % rc)
    text = read_log(args, log)
    check("\r\nProblem: No product of this name is known: Zolva Nothing At All\r\n" in text,
          "the log misses the unknown name: %s" % text)
    print("code 2, no window")

    # 3: the log cannot be written; the removal is not stopped by it.
    before, planted = e2e.plant(wine, products, [chosen])
    rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-log",
                 r"C:\no such folder\keystrip.log")
    check(rc == 3, "exit code %d, expected 3" % rc)
    check(not os.path.exists(os.path.join(drive_c, "no such folder")), "a folder was made")
    e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone),
                        "after a run whose log could not be written")
    print("code 3 for the log, product removed")

    # 3: no display, so no window: nothing is removed and the log says why. Without the
    # switches the same run ends with 0 and writes nothing, as it always has.
    no_display = {k: v for k, v in wine.env.items() if k != "DISPLAY"}
    before, planted = e2e.plant(wine, products, [chosen])
    log = LOG_DIR + r"\keystrip-nowindow.log"
    switches = ["-silent", "-product", name, "-exitcode", "-log", log]
    rc = run_exe(wine, args, *switches, env=no_display)
    check(rc == 3, "exit code %d without a display, expected 3" % rc)
    text = read_log(args, log)
    check_header(text, quoted(switches))
    check(text.split("\r\n")[7:] == [
        "Problem: The main window could not be created", "Products removed completely: 0 of 0",
        "Result: 3, the run could not start its work: no definitions, unreadable terms, no "
        "window, a -log or -backup file that cannot be written, a -restore file that cannot "
        "be read or is refused, -restore with -product or -backup, or -silent -preview without "
        "-log", "Exit code: 3", ""],
        "log without a display: %s" % text)
    files = e2e.files_of(drive_c)
    rc = run_exe(wine, args, "-silent", "-product", name, env=no_display)
    check(rc == 0, "exit code %d without a display and without -exitcode" % rc)
    check(not e2e.written_files(files, e2e.files_of(drive_c)), "a file was written")
    e2e.expect_registry(wine, planted, "after runs without a display")
    print("code 3 without a display, nothing removed")


def scenario_help(wine, args, products):
    drive_c = os.path.join(args.prefix, "drive_c")
    # With -silent nothing shows, so the run ends by itself.
    start = time.time()
    rc = run_exe(wine, args, "-help", "-silent", "-exitcode", timeout=30)
    check(rc == 0, "-help -silent: exit code %d" % rc)
    print("-help -silent ended with 0 in %.1f s" % (time.time() - start))

    for switches in (["-help", "-exitcode", "-log", LOG_DIR + r"\help.log"], ["-?"]):
        files = e2e.files_of(drive_c)
        process = wine.start(args.exe, *switches)
        rc, text = wine.driver("dialog", "30")
        check(rc == 0, "%s showed no message box" % switches[0])
        text = text.replace("\r", "")  # the driver's stdout adds a CR of its own
        for row in ["-product NAME\n\tremoves that product alone",
                    "-silent\n\twith -product: removes it, no window",
                    "-log FILE\n\twrites the report to FILE at the end",
                    "-exitcode\n\tthe exit code tells the result",
                    "-help, -?\n\tshows this list, does nothing else",
                    "0\tevery requested product removed completely",
                    "1\tat least one rule failed", "2\t-product named no known product",
                    "3\tthe run could not start its work"]:
            check(row in text, "the help misses %r:\n%s" % (row, text))
        check(wine.driver("state")[0] != 0, "the wizard window is there as well")
        if switches[0] == "-help":
            screenshot_box(args, "help")
        e2e.keys("Return")
        rc = exit_code(process)
        check(rc == 0, "%s: exit code %d" % (switches[0], rc))
        check(not e2e.written_files(files, e2e.files_of(drive_c)), "the help wrote a file")
        print("%s showed the help and ended with 0" % switches[0])


def screenshot_box(args, name):
    time.sleep(0.5)
    wid = e2e.window_id()
    check(wid is not None, "no window to photograph")
    os.makedirs(args.screenshots, exist_ok=True)
    path = os.path.join(args.screenshots, name + ".png")
    subprocess.run(["import", "-window", wid, path], check=True, timeout=30)
    print("screenshot", path)


def scenario_log_wizard(wine, args, products):
    chosen = product(products)
    before, planted = e2e.plant(wine, products, [chosen])
    keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)

    process = wine.start(args.exe, "-product", chosen["name"], "-exitcode", "-log",
                         r"C:\no such folder\keystrip.log")
    check(wine.driver("wait", "30")[0] == 0, "the wizard did not show")
    wine.wait_page(0)
    e2e.keys("Return")  # accept: the named product alone is removed
    facts = wine.wait_page(2)
    check(facts["SuccessLogLabel.visible"] == "1", "the result page does not say it")
    check(facts["SuccessLogLabel.caption"] == "The log file could not be written.",
          "note: %s" % facts["SuccessLogLabel.caption"])
    check(facts["SuccessLabel1.caption"].startswith("All selected Zolva registry keys"),
          "result: %s" % facts["SuccessLabel1.caption"])
    e2e.screenshot(args, "result-log-not-written")
    e2e.keys("Return")
    rc = exit_code(process)
    check(rc == 3, "exit code %d, expected 3" % rc)
    e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone), "after the removal")

    # Closed on the terms page: nothing requested, and the log is there all the same.
    log = LOG_DIR + r"\keystrip-early.log"
    process = wine.start(args.exe, "-log", log, "-exitcode")
    check(wine.driver("wait", "30")[0] == 0, "the wizard did not show")
    facts = wine.wait_page(0)
    check(facts["SuccessLogLabel.visible"] == "0", "the note shows too early")
    e2e.keys("alt+e")
    rc = exit_code(process)
    check(rc == 0, "exit code %d, expected 0" % rc)
    text = read_log(args, log)
    check_header(text, ["-log", log, "-exitcode"])
    check(text.split("\r\n")[7:] == ["Products removed completely: 0 of 0",
                                      "Result: 0, every requested product removed "
                                      "completely, or nothing to remove",
                                      "Exit code: 0", ""], "early log: %s" % text)


# Made-up user accounts; the running account is Wine's S-1-5-21-0-0-0-1000.
LOADED_SID = "S-1-5-21-1111-2222-3333-1002"
LISTED_SID = "S-1-5-21-1111-2222-3333-1001"
MISSING_SID = "S-1-5-21-1111-2222-3333-1003"
PROFILE_LIST = r"SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
SCRATCH = r"SOFTWARE\ZolvaHiveScratch"


def user_traces(chosen, root):
    """.reg text of the product's HKEY_CURRENT_USER traces below root, with a key of the
    user's own beside them."""
    out = ["[%s\\Software\\Keep]\r\n\"Mine\"=\"yes\"\r\n\r\n" % root]
    for rule in chosen["removal"]:
        if rule["root"] != "HKEY_CURRENT_USER":
            continue
        path = root + "\\" + rule["key"]
        if rule["action"] == "CompleteKey":
            out.append("[%s\\Settings]\r\n\"Level\"=dword:00000003\r\n\r\n" % path)
        else:
            out.append("[%s]\r\n%s=\"planted\"\r\n\r\n" % (path, e2e.reg_name(rule["name"])))
    return "".join(out)


def reg_query(wine, key):
    return wine.run("reg", "query", key).returncode == 0


def scenario_allusers(wine, args, products):
    chosen = product(products, "Zolva PDF Writer 5")
    user_rules = [r for r in chosen["removal"] if r["root"] == "HKEY_CURRENT_USER"]
    check(user_rules, "the product has no rule on HKEY_CURRENT_USER")
    users = os.path.join(args.prefix, "drive_c", "users")
    hive_files = {sid: os.path.join(users, "keystrip-" + sid[-4:], "NTUSER.DAT")
                  for sid in (LOADED_SID, LISTED_SID)}
    e2e.planter(wine, "rmtree", "HKLM", SCRATCH)
    for sid, path in hive_files.items():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):
            os.remove(path)
        scratch = "HKEY_LOCAL_MACHINE\\%s\\%s" % (SCRATCH, sid)
        wine.reg_import(user_traces(chosen, scratch), "hive.reg")
        e2e.planter(wine, "savehive", "HKLM", SCRATCH + "\\" + sid,
                    "C:\\users\\keystrip-%s\\NTUSER.DAT" % sid[-4:])
    e2e.planter(wine, "rmtree", "HKLM", SCRATCH)
    for sid in (LISTED_SID, MISSING_SID):
        check(wine.run("reg", "add", "HKLM\\%s\\%s" % (PROFILE_LIST, sid), "/v",
                       "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d",
                       "%%SystemDrive%%\\users\\keystrip-%s" % sid[-4:], "/f",
                       "/reg:64").returncode == 0, "planting the profile list failed")

    before, planted = e2e.plant(wine, products, [chosen])
    keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
    # A server that stays keeps the hive loaded between the processes.
    subprocess.run([*wine.wineserver, "-p"], env=wine.env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        run_over_every_profile(wine, args, chosen, user_rules, hive_files)
    finally:
        wine.flush()  # ends the server that stays, whatever happened
    e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone),
                        "after the run over every profile")
    for sid in (LISTED_SID, MISSING_SID):
        wine.run("reg", "delete", "HKLM\\%s\\%s" % (PROFILE_LIST, sid), "/f", "/reg:64")
    print("every profile cleaned, the missing one reported")


def run_over_every_profile(wine, args, chosen, user_rules, hive_files):
    e2e.planter(wine, "hiveload", "HKU", hive_files[LOADED_SID].replace(
        os.path.join(args.prefix, "drive_c"), "C:").replace("/", "\\"), LOADED_SID)
    loaded = "HKU\\" + LOADED_SID
    check(reg_query(wine, loaded + "\\" + user_rules[0]["key"]), "the loaded hive has no trace")

    log = LOG_DIR + r"\keystrip-allusers.log"
    rc = run_exe(wine, args, "-silent", "-allusers", "-exitcode", "-product", chosen["name"],
                 "-log", log)
    text = read_log(args, log)
    print(text)
    # The hive loaded now: its traces gone, its own key kept.
    for rule in user_rules:
        path = loaded + "\\" + rule["key"]
        if rule["action"] == "CompleteKey":
            check(not reg_query(wine, path), "%s is still there" % path)
        else:
            result = wine.run("reg", "query", path, "/v", rule["name"])
            check(result.returncode != 0, "%s of %s is still there" % (rule["name"], path))
    check(reg_query(wine, loaded + r"\Software\Keep"), "the user's own key went")
    # The hive file the profile list names was loaded for the run and unloaded after it.
    listed = wine.run("reg", "query", "HKU").stdout.decode("utf-8", "replace")
    check("ZolvaKeystrip_" not in listed, "a temporary hive is still loaded:\n" + listed)
    e2e.planter(wine, "hiveunload", "HKU", LOADED_SID)

    for sid in (LOADED_SID, LISTED_SID, "S-1-5-21-0-0-0-1000"):
        for rule in user_rules:
            key = "HKEY_USERS\\%s\\%s" % (sid, rule["key"])
            entry = ('  Key "%s" deleted' % key if rule["action"] == "CompleteKey"
                     else '  Name "%s\\%s" deleted' % (key, rule["name"]))
            check(entry in text.split("\r\n"), "the log misses: " + entry)
    check('Profile "HKEY_USERS\\%s" not loaded (' % MISSING_SID in text,
          "the log misses the profile that could not be loaded")
    check("Problem: A user's profile could not be loaded" in text, "no problem noted")
    check(rc == 1, "exit code %d, expected 1" % rc)
    # What the hive file holds now: Wine does not write an unloaded hive back to its file
    # (measured), so the deletions in it show in the log only.
    dump = e2e.planter(wine, "hivedump", "HKU", hive_files[LISTED_SID].replace(
        os.path.join(args.prefix, "drive_c"), "C:").replace("/", "\\"))
    print("the listed hive file after the run:\n" + dump)


def reg_file(args, name, text):
    """A .reg file as the program writes them (UTF-16LE with a byte-order mark) in the work
    folder; returns its Windows path."""
    path = os.path.join(args.work, name)
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + ("Windows Registry Editor Version 5.00\r\n\r\n" + text)
                .encode("utf-16-le"))
    return e2e.zpath(path)


def link_data(target):
    return "hex(6):" + ",".join("%02x" % b for b in target.encode("utf-16-le"))


RUN = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
RUN64 = r"\REGISTRY\MACHINE\Software\Microsoft\Windows\CurrentVersion\Run"
IFEO = r"SOFTWARE\Microsoft\Windows NT\CurrentVersion\Image File Execution Options"
OFFICE = r"SOFTWARE\Zolva\Office Suite"
EVIL = '"C:\\\\Users\\\\Public\\\\evil.exe"'

# Files a user without administrator rights could have edited: each must write nothing
# and end with 3. True where a section lies inside a rule's target, so that only the
# file's origin can refuse it.
FORGED = [
    ("run-32-bit", False, "[HKEY_LOCAL_MACHINE\\%s]\r\n\"Evil\"=%s\r\n\r\n" % (RUN, EVIL)),
    ("run-64-bit-through-a-link", True,
     "[HKEY_LOCAL_MACHINE\\%s\\Run64]\r\n\"SymbolicLinkValue\"=%s\r\n\r\n"
     "[HKEY_LOCAL_MACHINE\\%s\\Run64]\r\n\"Evil\"=%s\r\n\r\n"
     % (OFFICE, link_data(RUN64), OFFICE, EVIL)),
    ("ifeo-debugger", False,
     "[HKEY_LOCAL_MACHINE\\%s\\notepad.exe]\r\n\"Debugger\"=%s\r\n\r\n" % (IFEO, EVIL)),
    ("ifeo-link-into-the-users-hive", False,
     "[HKEY_LOCAL_MACHINE\\%s]\r\n\"SymbolicLinkValue\"=%s\r\n\r\n"
     % (IFEO, link_data(r"\REGISTRY\USER\S-1-5-21-0-0-0-1000\Software\Evil"))),
    ("new-service", False,
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EvilService]\r\n"
     "\"ImagePath\"=%s\r\n\"Start\"=dword:00000002\r\n\r\n" % EVIL),
    ("a-rules-service", True,
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZolvaOfficeUpdate]\r\n"
     "\"ImagePath\"=%s\r\n\"Start\"=dword:00000002\r\n\r\n" % EVIL),
    ("comspec", False,
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]"
     "\r\n\"ComSpec\"=%s\r\n\r\n" % EVIL),
    ("default-users-run", False,
     "[HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
     "\"Evil\"=%s\r\n\r\n" % EVIL),
    ("current-config", False, "[HKEY_CURRENT_CONFIG\\Software\\Evil]\r\n\"x\"=%s\r\n\r\n" % EVIL),
    ("classes-root", False,
     "[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\r\n@=%s\r\n\r\n" % EVIL),
    ("unknown-value-types", True,
     "[HKEY_LOCAL_MACHINE\\%s]\r\n\"Odd\"=hex(12345):01,02\r\n\"Odder\"=hex(ffffffff):\r\n\r\n"
     % OFFICE),
    ("a-rules-run-value", True,
     "[HKEY_LOCAL_MACHINE\\%s]\r\n\"ZolvaOfficeQuickStart\"=%s\r\n\r\n" % (RUN, EVIL)),
    ("a-good-section-then-a-bad-one", False,
     "[HKEY_LOCAL_MACHINE\\%s]\r\n\"v\"=dword:00000001\r\n\r\n"
     "[HKEY_LOCAL_MACHINE\\%s]\r\n\"Evil\"=%s\r\n\r\n" % (OFFICE, RUN, EVIL)),
    ("a-users-link-carrying-a-section", True,
     "[HKEY_CURRENT_USER\\Software\\Zolva\\Office Suite\\L]\r\n\"SymbolicLinkValue\"=%s\r\n"
     "\r\n[HKEY_CURRENT_USER\\Software\\Zolva\\Office Suite\\L]\r\n\"Evil\"=%s\r\n\r\n"
     % (link_data(RUN64), EVIL)),
]


class Outcomes:
    """Each run's exit code and whole-registry differences; the failures are collected so
    that one pass reports every case."""

    def __init__(self, wine):
        self.wine = wine
        self.current = e2e.snapshot(wine)
        self.failures = []

    def run(self, args, name, switches, expected_rc, expected=None, log=None, wanted=()):
        """Runs the exe; the registry afterwards must be `expected` (by default what it was
        before the run)."""
        rc = run_exe(self.wine, args, *switches)
        after = e2e.snapshot(self.wine)
        written = e2e.differences(self.current, after)
        diff = written if expected is None else e2e.differences(expected, after)
        text = read_log(args, log) if log else ""
        missing = [w for w in wanted if w not in text]
        print("case %-34s exit %d (expected %d), %d registry changes by the run, %d differences "
              "from the expected registry%s" % (name, rc, expected_rc, len(written), len(diff),
                                                "".join("\n    " + d for d in diff[:6])))
        if rc != expected_rc or diff or missing:
            self.failures.append("%s: exit %d, %d differences, log misses %s" %
                                 (name, rc, len(diff), missing))
        self.current = after
        return text


def scenario_restore_hostile(wine, args, products):
    office = products[0]
    log = LOG_DIR + r"\keystrip-restore.log"
    for root, key in (("HKLM", r"SOFTWARE\Zolva"), ("HKCU", r"Software\Zolva")):
        e2e.planter(wine, "rmtree", root, key)
    outcomes = Outcomes(wine)

    # Files a user edited.
    for name, inside, text in FORGED:
        print("%s: %s the rules' targets" % (name, "inside" if inside else "outside"))
        path = reg_file(args, "forged-%s.reg" % name, text)
        outcomes.run(args, name, ["-silent", "-restore", path, "-exitcode", "-log", log], 3,
                     log=log, wanted=["Nothing was restored: ",
                                      "Problem: The backup to restore could not be read or was "
                                      "refused: " + path])

    # A user's plain key holding a link's value, with a key below it, backed up by a
    # removal and restored.
    before, _ = e2e.plant(wine, products, [office])
    fake = r"Software\Zolva\Office Suite\Fake"
    e2e.planter(wine, "value", "HKCU", fake, "SymbolicLinkValue", "6",
                RUN64.encode("utf-16-le").hex())
    check(wine.run("reg", "add", "HKCU\\" + fake + r"\Sub", "/v", "Mine", "/d", "kept", "/f",
                   "/reg:32").returncode == 0, "planting the fake link's subkey failed")
    planted = e2e.snapshot(wine)
    keys_gone, values_gone = e2e.removed_by([office], before, planted, args.prefix_arch)
    removed = e2e.without(planted, keys_gone, values_gone)
    backup = os.path.join(args.work, "restore-hostile.reg")
    if os.path.exists(backup):
        os.remove(backup)
    outcomes.current = planted
    outcomes.run(args, "backup-and-removal", ["-silent", "-product", office["name"], "-backup",
                                              e2e.zpath(backup), "-exitcode"], 0, removed)

    def removed_again():
        """Where a run restored after all, the product goes again, so that the next run
        starts from the same registry."""
        if e2e.differences(removed, outcomes.current):
            run_exe(wine, args, "-silent", "-product", office["name"])
            outcomes.current = e2e.snapshot(wine)

    # The switches beside -restore.
    other = os.path.join(args.work, "restore-hostile-2.reg")
    if os.path.exists(other):
        os.remove(other)
    outcomes.run(args, "restore-with-product",
                 ["-silent", "-restore", e2e.zpath(backup), "-product", office["name"],
                  "-exitcode", "-log", log], 3, removed, log,
                 ["Nothing was restored: -restore cannot be combined with -product\r\n",
                  "Problem: -restore cannot be combined with -product or -backup; nothing was "
                  "done: -product\r\n", "Products removed completely: 0 of 0\r\n"])
    removed_again()
    outcomes.run(args, "restore-with-backup",
                 ["-silent", "-restore", e2e.zpath(backup), "-backup", e2e.zpath(other),
                  "-exitcode", "-log", log], 3, removed, log,
                 ["Nothing was restored: -restore cannot be combined with -backup\r\n"])
    if os.path.exists(other):
        outcomes.failures.append("restore-with-backup wrote %s" % other)
    removed_again()
    text = outcomes.run(args, "preview-restore",
                        ["-silent", "-preview", "-restore", e2e.zpath(backup), "-exitcode",
                         "-log", log], 0, removed, log,
                        ['Checking what restoring from "%s" would write' % e2e.zpath(backup),
                         '  Key "HKEY_CURRENT_USER\\%s" would be restored (1 value)' % fake])
    if " would not be restored" in text or '" restored (' in text:
        outcomes.failures.append("the preview restored or refused:\n" + text)
    removed_again()
    process = wine.start(args.exe, "-restore", e2e.zpath(backup), "-product", office["name"])
    check(wine.driver("wait", "30")[0] == 0, "the wizard did not show")
    wine.wait_page(0)
    e2e.keys("Return")
    facts = wine.wait_page(2)
    caption = facts["SuccessLabel1.caption"]
    e2e.screenshot(args, "restore-refused")
    e2e.keys("Return")
    rc = exit_code(process)
    print("wizard -restore -product: %r, exit %d" % (caption, rc))
    if not caption.startswith("A backup cannot be restored together with a removal"):
        outcomes.failures.append("the wizard's result page says %r" % caption)
    outcomes.current = e2e.snapshot(wine)
    removed_again()
    outcomes.run(args, "restore", ["-silent", "-restore", e2e.zpath(backup), "-exitcode"], 0,
                 planted)
    for root, key in (("HKLM", r"SOFTWARE\Zolva"), ("HKCU", r"Software\Zolva")):
        e2e.planter(wine, "rmtree", root, key)

    restore_into_a_profile(wine, args, products, outcomes)
    check(not outcomes.failures, "%d cases failed:\n  %s" % (
        len(outcomes.failures), "\n  ".join(outcomes.failures)))


def restore_into_a_profile(wine, args, products, outcomes):
    """A backup made with -allusers names a user whose hive is not loaded: the restore loads
    it from the profile list's file and unloads it again, never making a key of that name
    below HKEY_USERS; with the file gone the key is not restored and the code is 1. Wine
    does not write an unloaded hive back to its file, so the log tells what went in."""
    chosen = product(products, "Zolva PDF Writer 5")
    folder = os.path.join(args.prefix, "drive_c", "users", "keystrip-" + LISTED_SID[-4:])
    hive = os.path.join(folder, "NTUSER.DAT")
    os.makedirs(folder, exist_ok=True)
    if os.path.exists(hive):
        os.remove(hive)
    e2e.planter(wine, "rmtree", "HKLM", SCRATCH)
    wine.reg_import(user_traces(chosen, "HKEY_LOCAL_MACHINE\\%s\\%s" % (SCRATCH, LISTED_SID)),
                    "hive.reg")
    e2e.planter(wine, "savehive", "HKLM", SCRATCH + "\\" + LISTED_SID,
                "C:\\users\\keystrip-%s\\NTUSER.DAT" % LISTED_SID[-4:])
    e2e.planter(wine, "rmtree", "HKLM", SCRATCH)
    check(wine.run("reg", "add", "HKLM\\%s\\%s" % (PROFILE_LIST, LISTED_SID), "/v",
                   "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d",
                   "%%SystemDrive%%\\users\\keystrip-%s" % LISTED_SID[-4:], "/f",
                   "/reg:64").returncode == 0, "planting the profile list failed")
    e2e.plant(wine, products, [chosen])
    backup = os.path.join(args.work, "restore-profiles.reg")
    if os.path.exists(backup):
        os.remove(backup)
    log = LOG_DIR + r"\keystrip-restore-profiles.log"
    key = 'Key "HKEY_USERS\\%s\\Software\\Zolva\\PDF Writer"' % LISTED_SID
    # A server that stays shows the keys made below HKEY_USERS, which it never saves.
    subprocess.run([*wine.wineserver, "-p"], env=wine.env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        rc = run_exe(wine, args, "-silent", "-allusers", "-product", chosen["name"], "-backup",
                     e2e.zpath(backup), "-exitcode")
        check(rc == 0, "the removal over every profile ended with %d" % rc)
        for name, gone, expected_rc, line in (
                ("restore-into-a-profile", False, 0, "  %s restored (" % key),
                ("restore-into-a-missing-profile", True, 1,
                 "  %s not restored (the user's hive could not be loaded)" % key)):
            if gone:
                os.rename(hive, hive + ".gone")
            rc = run_exe(wine, args, "-silent", "-restore", e2e.zpath(backup), "-exitcode",
                         "-log", log)
            text = read_log(args, log)
            users = wine.run("reg", "query", "HKU").stdout.decode("utf-8", "replace")
            made = [n for n in (LISTED_SID, "ZolvaKeystrip_") if n in users]
            print("case %-34s exit %d (expected %d), keys below HKEY_USERS: %s" %
                  (name, rc, expected_rc, made or "none"))
            logged = any(entry.startswith(line) for entry in text.split("\r\n"))
            if rc != expected_rc or made or not logged:
                outcomes.failures.append("%s: exit %d, HKEY_USERS holds %s, log %s %r" % (
                    name, rc, made, "has" if logged else "misses", line))
            if made:
                wine.run("reg", "delete", "HKU\\" + LISTED_SID, "/f")
    finally:
        wine.flush()
        if os.path.exists(hive + ".gone"):
            os.rename(hive + ".gone", hive)
        wine.run("reg", "delete", "HKLM\\%s\\%s" % (PROFILE_LIST, LISTED_SID), "/f", "/reg:64")
        e2e.plant(wine, products, [])


SCENARIOS = {"exitcodes": scenario_exitcodes, "help": scenario_help,
             "log-wizard": scenario_log_wizard, "allusers": scenario_allusers,
             "restore-hostile": scenario_restore_hostile}


def main():
    args = e2e.harness_arguments(SCENARIOS).parse_args()
    wine, products = e2e.harness(args)
    # Logs of an earlier run must not pass for this run's.
    for name in os.listdir(os.path.join(args.prefix, "drive_c", "ProgramData")):
        if name.startswith("keystrip") and name.endswith(".log"):
            os.remove(os.path.join(args.prefix, "drive_c", "ProgramData", name))
    try:
        SCENARIOS[args.scenario](wine, args, products)
    except e2e.Failure as failure:
        print("FAILED:", failure)
        return 1
    print("passed:", args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
