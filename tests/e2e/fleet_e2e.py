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
  allusers    -allusers with a planted profile list: the running user's profile, a hive
              loaded now with its <SID>_Classes, a hive file the profile list names with
              its UsrClass.dat (made with RegSaveKeyW), the Default profile, a profile
              whose hive file is missing, one of defaultuser0, a .bak entry, an entry
              whose name holds a NUL and a link below HKEY_USERS into the machine's keys;
              every user's and classes hive loses its traces, with their real paths in the
              log, the keys beside them stay; the .bak, the NUL entry, defaultuser0 and the
              link are left alone with a note; a hive another process holds open stays
              loaded with a warning; the missing one is a warning; exit code 1
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
  backup-faults
              -backup and -restore where a user or bad luck gets in the way: a -backup
              FILE that a user seeded, or an earlier backup ending in a cut line, is
              refused (code 3, nothing deleted, the file as it was) and a restore of it
              writes nothing; a -backup folder gets a new file named after the computer
              and the time; a backup cut in the middle of a value line restores only its
              whole parts (code 1); a backup onto a full disk (a 64 KiB tmpfs, mounted
              for the test: it needs root) deletes only what it could back up (code 3)
              and restores all of it. Each step prints its figure (exit code, and the
              keys and values that differ from the right outcome); --measure only
              prints them, to measure an older exe
  onecopy     two silent copies started together with one log: one removes, the other
              ends with 1618 and writes nothing; while a wizard waits on its terms, a
              silent copy ends with 1618 (0 without -exitcode) touching nothing, a second
              wizard says the program is already running (1618), and -help still shows
  logs        a second run appends to the log; -logformat cmtrace lines parse with a
              strict pattern; a log folder that cannot be written in ends the run with 3
              before the registry is touched
  guarded     a symbolic link at the log's name, a hard link, and a linked folder on its
              path: the log is refused (code 3), the link's target untouched, the removal
              done
  json        the -json file of a removal read back: the registry after the run is the one
              before without exactly what its rules say went; the -json file of a preview:
              the keys and values it lists are exactly what a removal then takes; a -json
              file that cannot be written ends the run with 3 before the registry
"""

import json
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
        "window, a -log, -json or -backup file that cannot be written, a -restore file that "
        "cannot be read or is refused, -restore with -product or -backup, an unknown "
        "-logformat, or -silent -preview without -log or -json", "Exit code: 3", ""],
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
                    "-log FILE\n\tappends the report to FILE at the end",
                    "-logformat cmtrace\n\tthe log as CMTrace lines",
                    "-json FILE\n\twrites the result as JSON to FILE",
                    "-exitcode\n\tthe exit code tells the result",
                    "-help, -?\n\tshows this list, does nothing else",
                    "0\tevery requested product removed completely",
                    "1\tat least one rule failed", "2\t-product named no known product",
                    "3\tthe run could not start its work",
                    "1618\tanother copy of the program is running"]:
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
SETUP_SID = "S-1-5-21-1111-2222-3333-1004"  # first-time setup's account, defaultuser0
LINK_SID = "S-1-5-21-1111-2222-3333-1009"   # below HKEY_USERS, a link into the machine's keys
BAK_ENTRY = LISTED_SID + ".bak"             # left by a temporary profile: the same folder
NUL_ENTRY = LISTED_SID + "<NUL>x"           # cut at the NUL, it reads as the listed user
PROFILE_LIST = r"SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
SCRATCH = r"SOFTWARE\ZolvaHiveScratch"
LINK_TARGET = r"Software\ZolvaLinkTarget"
USRCLASS = r"AppData\Local\Microsoft\Windows\UsrClass.dat"
FOLDERS = {LOADED_SID: "keystrip-1002", LISTED_SID: "keystrip-1001", SETUP_SID: "defaultuser0",
           "Default": "keystrip-default"}


def user_traces(chosen, root, rules_root="HKEY_CURRENT_USER"):
    """.reg text of the product's traces on rules_root (HKEY_CURRENT_USER, or
    HKEY_CLASSES_ROOT for a classes hive) below root, with a key of the user's own beside
    them."""
    out = ["[%s\\Software\\Keep]\r\n\"Mine\"=\"yes\"\r\n\r\n" % root]
    for rule in chosen["removal"]:
        if rule["root"] != rules_root:
            continue
        path = root + "\\" + rule["key"]
        if rule["action"] == "CompleteKey":
            out.append("[%s\\Settings]\r\n\"Level\"=dword:00000003\r\n\r\n" % path)
        else:
            out.append("[%s]\r\n%s=\"planted\"\r\n\r\n" % (path, e2e.reg_name(rule["name"])))
    return "".join(out)


def reg_query(wine, key):
    return wine.run("reg", "query", key).returncode == 0


def windows_path(args, path):
    return path.replace(os.path.join(args.prefix, "drive_c"), "C:").replace("/", "\\")


def save_hive(wine, args, text, path):
    """Makes the hive file path (below drive_c) holding text (.reg keys below the scratch
    key)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        os.remove(path)
    e2e.planter(wine, "rmtree", "HKLM", SCRATCH)
    wine.reg_import(text, "hive.reg")
    e2e.planter(wine, "savehive", "HKLM", SCRATCH, windows_path(args, path))
    e2e.planter(wine, "rmtree", "HKLM", SCRATCH)


def list_profile(wine, entry, folder):
    check(wine.run("reg", "add", "HKLM\\%s\\%s" % (PROFILE_LIST, entry), "/v",
                   "ProfileImagePath", "/t", "REG_EXPAND_SZ", "/d", folder, "/f",
                   "/reg:64").returncode == 0, "planting the profile list failed")


def unlist_profiles(wine):
    for entry in (LISTED_SID, MISSING_SID, SETUP_SID, BAK_ENTRY):
        wine.run("reg", "delete", "HKLM\\%s\\%s" % (PROFILE_LIST, entry), "/f", "/reg:64")
    wine.run("reg", "delete", "HKLM\\" + PROFILE_LIST, "/v", "Default", "/f", "/reg:64")
    wine.run(os.path.join(wine.args.bin, "HostilePlanter.exe"), "nulrm", "HKLM64", PROFILE_LIST,
             NUL_ENTRY)
    wine.run("reg", "delete", "HKLM\\" + LINK_TARGET, "/f", "/reg:64")


def scenario_allusers(wine, args, products):
    chosen = product(products, "Zolva PDF Writer 5")
    user_rules = [r for r in chosen["removal"] if r["root"] == "HKEY_CURRENT_USER"]
    class_rules = [r for r in chosen["removal"] if r["root"] == "HKEY_CLASSES_ROOT"]
    check(user_rules and class_rules, "the product has no rule on HKCU or on HKCR")
    users = os.path.join(args.prefix, "drive_c", "users")
    folder = {sid: os.path.join(users, name) for sid, name in FOLDERS.items()}
    scratch = "HKEY_LOCAL_MACHINE\\" + SCRATCH
    for sid in (LOADED_SID, LISTED_SID, SETUP_SID, "Default"):
        save_hive(wine, args, user_traces(chosen, scratch), os.path.join(folder[sid], "NTUSER.DAT"))
    for sid in (LOADED_SID, LISTED_SID):
        save_hive(wine, args, user_traces(chosen, scratch, "HKEY_CLASSES_ROOT"),
                  os.path.join(folder[sid], *USRCLASS.split("\\")))
    unlist_profiles(wine)
    for sid in (LISTED_SID, MISSING_SID, SETUP_SID):
        list_profile(wine, sid, "%%SystemDrive%%\\users\\keystrip-%s" % sid[-4:]
                     if sid != SETUP_SID else "C:\\users\\defaultuser0")
    list_profile(wine, BAK_ENTRY, "%SystemDrive%\\users\\keystrip-1001")
    e2e.planter(wine, "nulkey", "HKLM64", PROFILE_LIST, NUL_ENTRY, "ProfileImagePath",
                "C:\\users\\keystrip-evil")
    check(wine.run("reg", "add", "HKLM\\" + PROFILE_LIST, "/v", "Default", "/t",
                   "REG_EXPAND_SZ", "/d", "%SystemDrive%\\users\\keystrip-default", "/f",
                   "/reg:64").returncode == 0, "planting the Default profile failed")
    # What a link below HKEY_USERS would lead a user's rule to: machine keys, 64-bit view.
    target = os.path.join(args.work, "target.reg")
    with open(target, "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n" +
                user_traces(chosen, "HKEY_LOCAL_MACHINE\\" + LINK_TARGET))
    check(wine.run("reg", "import", "Z:" + target.replace("/", "\\"), "/reg:64").returncode == 0,
          "planting the link's target failed")

    before, planted = e2e.plant(wine, products, [chosen])
    keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
    # A server that stays keeps the hives loaded, and the link, between the processes.
    subprocess.run([*wine.wineserver, "-p"], env=wine.env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    problems = []
    try:
        run_over_every_profile(wine, args, chosen, user_rules, class_rules, folder, problems)
    finally:
        wine.flush()  # ends the server that stays, whatever happened
    diff = e2e.differences(e2e.without(planted, keys_gone, values_gone), e2e.snapshot(wine))
    print("whole registry after the run over every profile: %d differences" % len(diff))
    problems += diff
    unlist_profiles(wine)
    check(not problems, "%d findings:\n  %s" % (len(problems), "\n  ".join(problems[:60])))
    print("every profile and classes hive cleaned, the Default profile too; the .bak, the "
          "NUL entry, defaultuser0 and the link left alone; the missing and the held hive "
          "reported")


def run_over_every_profile(wine, args, chosen, user_rules, class_rules, folder, problems):
    def expect(condition, message):
        if not condition:
            problems.append(message)

    loaded = "HKU\\" + LOADED_SID
    e2e.planter(wine, "hiveload", "HKU", windows_path(args, os.path.join(folder[LOADED_SID],
                                                                         "NTUSER.DAT")),
                LOADED_SID)
    e2e.planter(wine, "hiveload", "HKU", windows_path(
        args, os.path.join(folder[LOADED_SID], *USRCLASS.split("\\"))), LOADED_SID + "_Classes")
    check(reg_query(wine, loaded + "\\" + user_rules[0]["key"]), "the loaded hive has no trace")
    check(reg_query(wine, loaded + "_Classes\\" + class_rules[0]["key"]),
          "the loaded classes hive has no trace")
    e2e.planter(wine, "link", "HKU", LINK_SID, "\\REGISTRY\\MACHINE\\" + LINK_TARGET)
    check(reg_query(wine, "HKU\\%s\\%s" % (LINK_SID, user_rules[0]["key"])),
          "the link below HKEY_USERS leads nowhere")
    # Another process holds the listed user's hive open while the run unloads it.
    held = "ZolvaKeystrip_" + LISTED_SID
    holder_out = os.path.join(args.work, "holder.txt")
    with open(holder_out, "wb") as out:
        holder = subprocess.Popen([*wine.wine, os.path.join(args.bin, "HostilePlanter.exe"),
                                   "hold", "HKU", held, "20000"], env=wine.env, stdout=out,
                                  stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    time.sleep(2)  # the holder is waiting for the hive

    log = LOG_DIR + r"\keystrip-allusers.log"
    rc = run_exe(wine, args, "-silent", "-allusers", "-exitcode", "-product", chosen["name"],
                 "-log", log)
    text = read_log(args, log)
    print(text)
    lines = text.split("\r\n")
    listed = wine.run("reg", "query", "HKU").stdout.decode("utf-8", "replace")
    holding = open(holder_out, "rb").read().startswith(b"held")
    holder.kill()
    holder.wait(timeout=30)
    time.sleep(1)
    if held in listed:
        wine.run(os.path.join(args.bin, "HostilePlanter.exe"), "hiveunload", "HKU", held)

    # The hives loaded now: their traces gone, their own keys kept.
    for hive, rules in ((loaded, user_rules), (loaded + "_Classes", class_rules)):
        for rule in rules:
            path = hive + "\\" + rule["key"]
            if rule["action"] == "CompleteKey":
                expect(not reg_query(wine, path), "%s is still there" % path)
            else:
                expect(wine.run("reg", "query", path, "/v", rule["name"]).returncode != 0,
                       "%s of %s is still there" % (rule["name"], path))
        expect(reg_query(wine, hive + r"\Software\Keep"), "the user's own key went in " + hive)
    # The link's target, machine keys, is untouched.
    for rule in user_rules:
        path = "HKLM\\%s\\%s" % (LINK_TARGET, rule["key"])
        query = (["reg", "query", path, "/reg:64"] if rule["action"] == "CompleteKey" else
                 ["reg", "query", path, "/v", rule["name"], "/reg:64"])
        expect(wine.run(*query).returncode == 0, "%s went through the link below HKU" % path)
    for name in ("ZolvaKeystrip_" + s for s in (LOADED_SID, MISSING_SID, SETUP_SID, "Default",
                                                LISTED_SID + "_Classes")):
        expect(name not in listed, "a temporary hive is still loaded: " + name)
    e2e.planter(wine, "hiveunload", "HKU", LOADED_SID + "_Classes")
    e2e.planter(wine, "hiveunload", "HKU", LOADED_SID)

    # Every hive by its real name: the users' hives (the running user's too), their
    # classes hives (loaded now and UsrClass.dat loaded for the run) and the Default profile.
    for hive, rules in ((LOADED_SID, user_rules), (LISTED_SID, user_rules),
                        ("S-1-5-21-0-0-0-1000", user_rules), ("Default", user_rules),
                        (LOADED_SID + "_Classes", class_rules),
                        (LISTED_SID + "_Classes", class_rules)):
        for rule in rules:
            key = "HKEY_USERS\\%s\\%s" % (hive, rule["key"])
            entry = ('  Key "%s" deleted' % key if rule["action"] == "CompleteKey"
                     else '  Name "%s\\%s" deleted' % (key, rule["name"]))
            expect(entry in lines, "the log misses: " + entry)
    for entry, why in ((BAK_ENTRY, "not a user account's SID"),
                       (NUL_ENTRY.replace("<NUL>", "\u2400"), "not a user account's SID"),
                       (SETUP_SID, "the temporary account of first-time setup"),
                       (LINK_SID, "a registry link, not a hive")):
        note = 'Profile "HKEY_USERS\\%s": skipped (%s)' % (entry, why)
        expect(note in lines, "the log misses: " + note)
        expect(not any(("HKEY_USERS\\%s\\" % entry) in line for line in lines),
               "a rule was applied to " + entry)
    expect('Profile "HKEY_USERS\\%s" not loaded (' % MISSING_SID in text,
           "the log misses the profile that could not be loaded")
    expect("Problem: A user's profile could not be loaded" in text, "no problem noted")
    if holding:
        expect('Profile "HKEY_USERS\\%s" not unloaded (error 5' % LISTED_SID in text,
               "the log misses the hive that stayed loaded")
        expect("Problem: A user's profile loaded for the run could not be unloaded" in text,
               "no problem noted for the hive that stayed loaded")
        print("Wine refused to unload the hive another process held open")
    else:
        problems.append("the holder never held the hive: Wine cannot show it this way")
    expect(rc == 1, "exit code %d, expected 1" % rc)
    # What the hive file holds now: Wine does not write an unloaded hive back to its file
    # (measured), so the deletions in it show in the log only.
    dump = e2e.planter(wine, "hivedump", "HKU", windows_path(
        args, os.path.join(folder[LISTED_SID], "NTUSER.DAT")))
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


# --- backups that cannot be turned against the machine, nor lost -----------------------

BACKUP_DIR = r"C:\ProgramData\KeystripBackups"
SEEDED = r"C:\users\Public\backup.reg"
FULL_DISK = "/tmp/keystrip-e2e-full"
SEEDED_RUN = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"


def reg_file_bytes(text):
    return ("\ufeffWindows Registry Editor Version 5.00\r\n\r\n" + text).encode("utf-16-le")


class Figures:
    """The outcome of each step against the right one; checked, or with --measure only
    printed."""

    def __init__(self, wine, args):
        self.wine, self.args = wine, args

    def step(self, defect, what, rc, want_rc, expected):
        diff = e2e.differences(expected, e2e.snapshot(self.wine))
        print("FIGURE defect %s, %s: exit code %d (right: %d), %d keys and values differ "
              "from the right outcome" % (defect, what, rc, want_rc, len(diff)), flush=True)
        for line in diff[:8]:
            print("    " + line)
        self.expect(rc == want_rc and not diff, "%s: exit code %d, %d differences" %
                    (what, rc, len(diff)))

    def expect(self, condition, message):
        if self.args.measure:
            if not condition:
                print("    (differs) " + message)
            return
        check(condition, message)


def scenario_backup_faults(wine, args, products):
    chosen = product(products)
    name = chosen["name"]
    figures = Figures(wine, args)
    backups = unix_path(args, BACKUP_DIR)
    os.makedirs(backups, exist_ok=True)
    for leaf in os.listdir(backups):
        os.remove(os.path.join(backups, leaf))

    # A file at the name: a user's, seeded with a section for the machine's Run key, or
    # an earlier backup that ends in a cut line. Neither is added to.
    for defect, what, content in (
            (3, "a file a user seeded", reg_file_bytes(
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]"
                "\r\n\"KeystripSeeded\"=\"C:\\\\Users\\\\Public\\\\evil.exe\"\r\n\r\n")),
            (5, "an earlier backup ending in a cut line", reg_file_bytes(
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZolvaEarlier]\r\n\"Blob\"=hex:01,02,03,\\\r\n"))):
        with open(unix_path(args, SEEDED), "wb") as f:
            f.write(content)
        before, planted = e2e.plant(wine, products, [chosen])
        log = LOG_DIR + r"\keystrip-seeded.log"
        rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-backup", SEEDED,
                     "-log", log)
        figures.step(defect, "-backup into " + what, rc, 3, planted)
        with open(unix_path(args, SEEDED), "rb") as f:
            figures.expect(f.read() == content, "the file was changed")
        figures.expect("exists already; a backup is written only to a new file" in
                       read_log(args, log), "the log does not say why nothing was deleted")
        rc = run_exe(wine, args, "-silent", "-exitcode", "-restore", SEEDED, "-log", log)
        figures.step(defect, "then -restore of it", rc, 3, planted)
        figures.expect("Nothing was restored: the file does not begin as this program's "
                       "backups do" in read_log(args, log), "the log does not say why")
        wine.run("reg", "delete", SEEDED_RUN, "/v", "KeystripSeeded", "/f", "/reg:32")
    os.remove(unix_path(args, SEEDED))

    # A folder: a new file named after the computer and the time, the log naming it.
    before, planted = e2e.plant(wine, products, [chosen])
    keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
    log = LOG_DIR + r"\keystrip-folder.log"
    rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-backup", BACKUP_DIR,
                 "-log", log)
    figures.step(3, "-backup into a folder", rc, 0,
                 e2e.without(planted, keys_gone, values_gone))
    made = os.listdir(backups)
    figures.expect(len(made) == 1 and re.fullmatch(r".+-\d{8}-\d{6}\.reg", made[0] if made else ""),
                   "the folder holds %s" % made)
    if made:
        figures.expect('Backup of everything deleted: "%s\\%s"' % (BACKUP_DIR, made[0]) in
                       read_log(args, log), "the log does not name the file")
        # The computer's record of it, which only administrators can change.
        with open(os.path.join(backups, made[0]), "rb") as f:
            named = re.search(r"; Zolva Keystrip backup ([0-9a-f]{32}) written on ",
                              f.read().decode("utf-16"))
        figures.expect(named and wine.run("reg", "query", r"HKLM\SOFTWARE\ZolvaKeystrip\Backups"
                                          "\\" + named.group(1), "/reg:32").returncode == 0,
                       "the backup is not recorded")
        rc = run_exe(wine, args, "-silent", "-exitcode", "-restore",
                     BACKUP_DIR + "\\" + made[0])
        figures.step(3, "then -restore of the new file", rc, 0, planted)

    # A backup cut in the middle of a line: only its whole parts are restored, and the
    # cut one ("Level"=dword:0000...) writes nothing over the live value.
    good = BACKUP_DIR + r"\good.reg"
    before, planted = e2e.plant(wine, products, [chosen])
    rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-backup", good)
    check(rc == 0, "the backup to cut: exit code %d" % rc)
    with open(unix_path(args, good), "rb") as f:
        whole = f.read()
    level = "dword:0000".encode("utf-16-le")
    cut_at = whole.index(level, whole.index(level) + 1) + len(level)
    cut = BACKUP_DIR + r"\cut.reg"
    with open(unix_path(args, cut), "wb") as f:
        f.write(whole[:cut_at])
    e2e.plant(wine, products, [chosen])
    log = LOG_DIR + r"\keystrip-cut.log"
    rc = run_exe(wine, args, "-silent", "-exitcode", "-restore", cut, "-log", log)
    figures.step(7, "-restore of a backup cut in a dword line", rc, 1, planted)
    figures.expect("Backup: the file has been cut short" in read_log(args, log),
                   "the log does not warn of the cut")

    # A full disk: the part that does not fit is cut back off the file and its rule
    # deletes nothing; everything else is deleted and comes back.
    check(os.geteuid() == 0, "mounting the small file system for the full disk needs root")
    subprocess.run(["umount", FULL_DISK], stderr=subprocess.DEVNULL)
    os.makedirs(FULL_DISK, exist_ok=True)
    check(subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs",
                          FULL_DISK]).returncode == 0, "cannot mount a tmpfs on " + FULL_DISK)
    try:
        before, _ = e2e.plant(wine, products, [chosen])
        uninstall = next(r["key"] for r in chosen["removal"] if "Uninstall" in r["key"])
        e2e.planter(wine, "bigvalue", "HKLM", uninstall, "Big", "100000")
        planted = e2e.snapshot(wine)
        keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
        kept = {(h, k) for h, k in keys_gone if "zolva disk cleaner_is1" in k}
        check(len(kept) == 1, "the uninstall key among %s" % keys_gone)
        full = e2e.zpath(os.path.join(FULL_DISK, "full.reg"))
        log = LOG_DIR + r"\keystrip-full.log"
        rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-backup", full,
                     "-log", log)
        figures.step(6, "-backup onto a full disk", rc, 3,
                     e2e.without(planted, keys_gone - kept, values_gone))
        text = read_log(args, log)
        figures.expect("not deleted: the backup could not be written" in text and
                       "Problem: The backup file could not be written" in text,
                       "the log does not say what could not be backed up")
        rc = run_exe(wine, args, "-silent", "-exitcode", "-restore", full)
        figures.step(6, "then -restore of the backup from the full disk", rc, 0, planted)
    finally:
        subprocess.run(["umount", FULL_DISK])
    if not args.measure:
        print("seeded and damaged files refused, a folder's new file, a cut file's whole "
              "parts, a full disk's backup: all as they should")


# --- one copy at a time, logs that keep their history, guarded files ----------------

ALREADY_RUNNING = ("Zolva Keystrip is already running. Wait until it has finished, then start "
                   "it again.")


def plant_bulk(wine, chosen, count):
    """Many small keys below the product's first machine key, so that removing it takes a
    while."""
    top = next(r["key"] for r in chosen["removal"]
               if r["action"] == "CompleteKey" and r["root"] == "HKEY_LOCAL_MACHINE")
    wine.reg_import("".join("[HKEY_LOCAL_MACHINE\\%s\\Bulk\\K%05d]\r\n\"v\"=dword:%08x\r\n\r\n"
                            % (top, i, i) for i in range(count)), "bulk.reg")


def runs_in(text):
    return text.count("Zolva Keystrip\r\nCopyright (c) 2026 Zolva Software AG.\r\n")


class Launcher:
    """Starts the exe as a deployment script does, through cmd.exe's start /wait, and reads
    its whole exit code: Wine hands a Unix parent only the low 8 bits of it (1618 arrives
    as 82)."""

    def __init__(self, wine, args, name, *switches):
        script = os.path.join(args.work, name + ".cmd")
        exe = "Z:" + os.path.abspath(args.exe).replace("/", "\\")
        with open(script, "w", newline="\r\n") as f:
            f.write('@echo off\nstart "" /wait "%s" %s\necho exitcode=%%errorlevel%%\n'
                    % (exe, " ".join(quoted(list(switches)))))
        self.out = open(os.path.join(args.work, name + ".out"), "w+b")
        print("launch", *switches, flush=True)
        self.process = subprocess.Popen(
            [*wine.wine, "cmd", "/c", "Z:" + script.replace("/", "\\")], env=wine.env,
            stdout=self.out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def code(self, timeout=60):
        exit_code(self.process, timeout)
        self.out.seek(0)
        match = re.search(rb"exitcode=(-?\d+)", self.out.read())
        self.out.close()
        check(match, "the launcher printed no exit code")
        return int(match.group(1))


def scenario_onecopy(wine, args, products):
    chosen = product(products)
    name = chosen["name"]
    drive_c = os.path.join(args.prefix, "drive_c")

    # Two copies started together, both with the same log.
    before, planted = e2e.plant(wine, products, [chosen])
    plant_bulk(wine, chosen, 3000)
    planted = e2e.snapshot(wine)
    keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
    log = LOG_DIR + r"\keystrip-together.log"
    switches = ["-silent", "-product", name, "-exitcode", "-log", log]
    start = time.time()
    copies = [Launcher(wine, args, "copy%d" % i, *switches) for i in range(2)]
    codes = sorted(copy.code(timeout=180) for copy in copies)
    print("two copies together: exit codes %s in %.1f s" % (codes, time.time() - start))
    check(codes == [0, 1618], "exit codes %s, expected 0 and 1618" % codes)
    e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone),
                        "after two copies started together")
    text = read_log(args, log)
    check(runs_in(text) == 1, "the log holds %d runs, expected 1" % runs_in(text))
    check(text.endswith("Exit code: 0\r\n"), "log result: %s" % text[-100:])

    # A wizard holds the lock while it waits on its terms page.
    before, planted = e2e.plant(wine, products, [chosen])
    wizard = wine.start(args.exe, "-log", LOG_DIR + r"\keystrip-holder.log")
    check(wine.driver("wait", "30")[0] == 0, "the wizard did not show")
    wine.wait_page(0)
    try:
        files = e2e.files_of(drive_c)
        second = Launcher(wine, args, "second", "-silent", "-product", name, "-exitcode", "-log",
                          LOG_DIR + r"\keystrip-second.log", "-json",
                          LOG_DIR + r"\keystrip-second.json")
        rc = second.code(timeout=30)
        check(rc == 1618, "a silent second copy: exit code %d, expected 1618" % rc)
        rc = run_exe(wine, args, "-silent", "-product", name, timeout=30)
        check(rc == 0, "without -exitcode: exit code %d, expected 0" % rc)
        written = [f for f in e2e.written_files(files, e2e.files_of(drive_c))
                   if "keystrip-second" in f]
        check(not written, "a second copy wrote %s" % written)
        # (The registry is compared once the wizard has ended: reading it whole ends
        # every Wine process.)

        launcher = Launcher(wine, args, "wizard2", "-product", name, "-exitcode")
        rc, text = wine.driver("dialog", "30")
        check(rc == 0 and ALREADY_RUNNING in text, "the second wizard's message: %s" % text)
        # Two windows have the program's title now: OK is pressed in the box itself.
        check(wine.driver("dismiss")[0] == 0, "no message box to dismiss")
        rc = launcher.code()
        check(rc == 1618, "a second wizard: exit code %d, expected 1618" % rc)

        process = wine.start(args.exe, "-help")
        rc, text = wine.driver("dialog", "30")
        check(rc == 0 and "-json FILE" in text, "no help while another copy runs: %s" % text)
        check(wine.driver("dismiss")[0] == 0, "no help box to dismiss")
        check(exit_code(process) == 0, "-help ended with an exit code")
        # The first wizard is where it was, on its terms.
        check(wine.state()["page"] == "0", "the first wizard left its terms page")
    finally:
        e2e.keys("alt+e")  # the first wizard's Exit
    check(exit_code(wizard) == 0, "the first wizard did not end with 0")
    e2e.expect_registry(wine, planted, "after the second copies and the wizard")
    print("a second copy ends at once; the wizard says so; -help still shows")


CMTRACE = re.compile(r'<!\[LOG\[(.*)\]LOG\]!><time="(\d\d):(\d\d):(\d\d)\.(\d{3})([+-]\d{3})" '
                     r'date="(\d\d)-(\d\d)-(\d{4})" component="ZolvaKeystrip" context="" '
                     r'type="([123])" thread="(\d+)" file="">')


def scenario_logs(wine, args, products):
    chosen = product(products)
    name = chosen["name"]

    # Two runs, one file: the second is appended with its own header.
    log = LOG_DIR + r"\keystrip-twice.log"
    switches = ["-silent", "-product", name, "-exitcode", "-log", log]
    for run in range(2):
        e2e.plant(wine, products, [chosen])
        rc = run_exe(wine, args, *switches)
        check(rc == 0, "run %d: exit code %d" % (run + 1, rc))
    text = read_log(args, log)
    check(runs_in(text) == 2, "the log holds %d runs, expected 2" % runs_in(text))
    check("\ufeff" not in text, "a second byte-order mark")
    first, second = text.split("\r\n\r\nZolva Keystrip\r\n")
    check_header(first, quoted(switches))
    check_header("Zolva Keystrip\r\n" + second, quoted(switches))
    print("the second run appended")

    # CMTrace: every line an entry, in the strict form.
    cmlog = LOG_DIR + r"\keystrip-cm.log"
    e2e.plant(wine, products, [chosen])
    rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-logformat", "cmtrace",
                 "-log", cmlog)
    check(rc == 0, "cmtrace run: exit code %d" % rc)
    lines = read_log(args, cmlog).split("\r\n")
    check(lines.pop() == "", "the last CMTrace line has no CR LF")
    entries = []
    for line in lines:
        match = CMTRACE.fullmatch(line)
        check(match, "not a CMTrace line: %r" % line)
        check("]LOG]!>" not in match.group(1), "the text holds the end marker: %r" % line)
        hour, minute, second, month, day = (int(match.group(i)) for i in (2, 3, 4, 7, 8))
        check(hour < 24 and minute < 60 and second < 60 and 1 <= month <= 12 and 1 <= day <= 31,
              "time or date out of range: %r" % line)
        entries.append((match.group(10), match.group(1)))
    texts = [t for _, t in entries]
    check(texts[0] == "Zolva Keystrip" and texts[-1] == "Exit code: 0", "entries: %s" % texts)
    check('Removing product "%s"' % name in texts, "no removal entry: %s" % texts)
    check(all(t == "1" for t, _ in entries), "a type other than 1: %s" % entries)
    print("%d CMTrace lines parse" % len(lines))

    # A log folder that cannot be written in is bad input: nothing runs.
    before, planted = e2e.plant(wine, products, [chosen])
    locked = unix_path(args, LOG_DIR + r"\KeystripLocked")
    os.makedirs(locked, exist_ok=True)
    subprocess.run(["chattr", "+i", locked], check=True)
    try:
        rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-log",
                     LOG_DIR + r"\KeystripLocked")
    finally:
        subprocess.run(["chattr", "-i", locked], check=True)
    check(rc == 3, "a log folder without write access: exit code %d, expected 3" % rc)
    check(not os.listdir(locked), "something was written in the locked folder")
    e2e.expect_registry(wine, planted, "after bad input")
    print("a log folder that cannot be written in: code 3, nothing removed")


def scenario_guarded(wine, args, products):
    chosen = product(products)
    name = chosen["name"]
    program_data = unix_path(args, LOG_DIR)
    victim = unix_path(args, r"C:\keystrip-victim.txt")
    victim_dir = unix_path(args, r"C:\KeystripVictimDir")
    link_dir = os.path.join(program_data, "KeystripLinked")

    def plant_link(kind, path):
        for old in (path, link_dir):
            if os.path.lexists(old):
                os.remove(old)
        with open(victim, "wb") as f:
            f.write(b"someone else's file\r\n")
        os.makedirs(victim_dir, exist_ok=True)
        if kind == "symbolic link":
            os.symlink(victim, path)
        elif kind == "hard link":
            os.link(victim, path)
        else:
            os.symlink(victim_dir, link_dir)

    for kind, log in (("symbolic link", LOG_DIR + r"\keystrip-link.log"),
                      ("hard link", LOG_DIR + r"\keystrip-hard.log"),
                      ("linked folder", LOG_DIR + r"\KeystripLinked\keystrip.log")):
        plant_link(kind, unix_path(args, log))
        before, planted = e2e.plant(wine, products, [chosen])
        keys_gone, values_gone = e2e.removed_by([chosen], before, planted, args.prefix_arch)
        rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-log", log)
        check(rc == 3, "%s: exit code %d, expected 3" % (kind, rc))
        with open(victim, "rb") as f:
            check(f.read() == b"someone else's file\r\n", "%s: the target was written" % kind)
        check(not os.listdir(victim_dir), "%s: a file was written through the link" % kind)
        e2e.expect_registry(wine, e2e.without(planted, keys_gone, values_gone),
                            "%s: the removal did not go on" % kind)
        print("%s at the log's name refused, the removal done" % kind)
    for path in (unix_path(args, LOG_DIR + r"\keystrip-link.log"),
                 unix_path(args, LOG_DIR + r"\keystrip-hard.log"), link_dir):
        if os.path.lexists(path):
            os.remove(path)


def located(before, root, key, value=None):
    """(hive, key in the registry files) of a logical key of the 32-bit view (holding the
    value, if one is named), where the snapshot has it; None when it has it nowhere."""
    check(not root.upper().startswith("HKEY_USERS\\"), "a path on a user's hive: %s" % root)
    hive = e2e.HIVES[root]
    for place in e2e.physical(root, key, "win64"):
        if place in before[hive] and (value is None or value.lower() in before[hive][place]):
            return hive, place
    return None


def split_path(path):
    root, _, key = path.partition("\\")
    return root, key


def scenario_json(wine, args, products):
    chosen = product(products, "Zolva PDF Writer 5")
    name = chosen["name"]
    result = LOG_DIR + r"\keystrip-result.json"

    def read_json():
        with open(unix_path(args, result), "rb") as f:
            data = f.read()
        check(all(b < 0x80 for b in data) and data.endswith(b"\r\n"), "not ASCII ending in CR LF")
        doc = json.loads(data)
        check(doc["schemaVersion"] == 1 and doc["program"] == "Zolva Keystrip", "header: %s" % doc)
        check(doc["commandLine"].endswith(" ".join(quoted(switches))), doc["commandLine"])
        entries = [p for p in doc["products"] if p["name"] == name]
        check(len(entries) == 1, "products: %s" % doc["products"])
        return doc, entries[0]

    # A removal: the registry after it is the one before without what the rules say.
    before, planted = e2e.plant(wine, products, [chosen])
    switches = ["-silent", "-product", name, "-exitcode", "-json", result]
    rc = run_exe(wine, args, *switches)
    check(rc == 0, "removal: exit code %d" % rc)
    doc, entry = read_json()
    check(doc["exitCode"] == 0 and doc["result"] == 0 and not doc["problems"], "result: %s" % doc)
    check(entry["action"] == "removed" and entry["removedCompletely"] and entry["found"], entry)
    check(len(entry["rules"]) == len(chosen["removal"]), "one rule each: %d" % len(entry["rules"]))
    keys, values = set(), set()
    for rule in entry["rules"]:
        place = located(planted, rule["root"], rule["key"], rule.get("name"))
        if rule["result"] == "notFound":
            check(place is None, "not found, but there: %s" % rule)
            continue
        check(rule["result"] == "deleted", "rule: %s" % rule)
        check(place is not None, "deleted, but never there: %s" % rule)
        if rule["action"] == "CompleteKey":
            keys.add(place)
        else:
            values.add((place[0], place[1], rule["name"].lower()))
    e2e.expect_registry(wine, e2e.without(planted, keys, values),
                        "after the removal, against its -json file")
    print("removal: %d keys and %d values in the -json file, the registry agrees"
          % (len(keys), len(values)))

    # A preview: what it lists is exactly what a removal then takes.
    before, planted = e2e.plant(wine, products, [chosen])
    switches = ["-silent", "-preview", "-product", name, "-exitcode", "-json", result]
    rc = run_exe(wine, args, *switches)
    check(rc == 0, "preview: exit code %d" % rc)
    e2e.expect_registry(wine, planted, "after the preview")
    doc, entry = read_json()
    check(doc["preview"] and entry["action"] == "previewed" and entry["complete"], entry)
    listed_keys, listed_values = set(), set()
    for rule in entry["rules"]:
        if rule["result"] == "notFound":
            continue
        check(rule["result"] == "wouldBeDeleted", "rule: %s" % rule)
        if rule["action"] == "NameOnly":
            hive, key = located(planted, rule["root"], rule["key"], rule["value"]["name"])
            listed_values.add((hive, key, rule["value"]["name"].lower()))
            continue
        check(len(rule["tree"]) == rule["keys"], "tree of %s" % rule["path"])
        for key in rule["tree"]:
            place = located(planted, *split_path(key["path"]))
            check(place is not None, "listed, but not there: %s" % key["path"])
            listed_keys.add(place)
            for value in key["values"]:
                listed_values.add((place[0], place[1], value["name"].lower()))
    rc = run_exe(wine, args, "-silent", "-product", name)
    check(rc == 0, "removal after the preview: exit code %d" % rc)
    after = e2e.snapshot(wine)
    gone_keys = {(h, k) for h in planted for k in planted[h] if k not in after[h]}
    gone_values = {(h, k, n) for h in planted for k in planted[h] for n in planted[h][k]
                   if n != "#link" and n not in after[h].get(k, {})}
    check(listed_keys == gone_keys, "keys: listed only %s, gone only %s"
          % (sorted(listed_keys - gone_keys)[:5], sorted(gone_keys - listed_keys)[:5]))
    check(listed_values == gone_values, "values: listed only %s, gone only %s"
          % (sorted(listed_values - gone_values)[:5], sorted(gone_values - listed_values)[:5]))
    print("preview: %d keys and %d values listed, exactly what the removal took"
          % (len(listed_keys), len(listed_values)))

    # A file that cannot be written: nothing runs.
    before, planted = e2e.plant(wine, products, [chosen])
    rc = run_exe(wine, args, "-silent", "-product", name, "-exitcode", "-json",
                 r"C:\no such folder\result.json")
    check(rc == 3, "-json in a missing folder: exit code %d, expected 3" % rc)
    e2e.expect_registry(wine, planted, "after a -json file that cannot be written")
    print("a -json file that cannot be written: code 3, nothing removed")


SCENARIOS = {"exitcodes": scenario_exitcodes, "help": scenario_help,
             "log-wizard": scenario_log_wizard, "allusers": scenario_allusers,
             "restore-hostile": scenario_restore_hostile,
             "backup-faults": scenario_backup_faults, "onecopy": scenario_onecopy,
             "logs": scenario_logs, "guarded": scenario_guarded, "json": scenario_json}


def main():
    parser = e2e.harness_arguments(SCENARIOS)
    parser.add_argument("--measure", action="store_true",
                        help="backup-faults: print each step's figure, check nothing")
    args = parser.parse_args()
    wine, products = e2e.harness(args)
    # Logs of an earlier run must not pass for this run's.
    for name in os.listdir(os.path.join(args.prefix, "drive_c", "ProgramData")):
        path = os.path.join(args.prefix, "drive_c", "ProgramData", name)
        if name.startswith("keystrip") and (name.endswith((".log", ".old", ".json"))):
            os.remove(path)
    try:
        SCENARIOS[args.scenario](wine, args, products)
    except e2e.Failure as failure:
        print("FAILED:", failure)
        return 1
    print("passed:", args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
