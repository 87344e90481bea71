#!/usr/bin/env python3
"""End-to-end runs of ZolvaKeystrip.exe under Wine on an X display (Xvfb).

    wizard_e2e.py SCENARIO --prefix P --bin DIR --exe EXE --resources DIR --screenshots DIR
                  [--wine CMD --wineserver CMD --prefix-arch win64|win32 --product N]

Scenarios:
  flow            traces of two shipped products; Enter on the terms, the products page
                  with them ticked, Enter (Remove), the result, show details, Enter (Ok);
                  exactly what their removal rules name is gone from the registry
  silent          traces of every shipped product, then -silent -product "<name of product N
                  (--product, default 1) in other letter case>": no window, exactly that
                  product's traces gone
  silent-unknown  -silent with an unknown product: the window shows after all
  errors          the error pages 1000 (no terms) and 1003 (no definitions)
  dpi             the window at 144 and 192 pixels per inch
  roundtrip       each product's traces with a subtree of every kind of value, name and
                  depth (a 1 MB value, a link and a plain key holding a link's value for
                  the first): -silent -product -backup F,
                  then -silent -restore F gives the registry back exactly; reg import F
                  /reg:32 too, but for what Wine's reg import cannot carry; and the wizard
                  with -backup, restored the same way
  hostile         silent removals with states planted to steer them: NUL characters in key
                  names, links inside product keys (to the machine's classes, to the 32-bit
                  SOFTWARE, a cycle) and a user's link on the path to a rule's key; exactly
                  what the rules name is gone, the exe ends normally
  preview         the products page's "Show what will be removed…" (Shift+F10, the menu
                  key, a double click): the modal preview of the real keys and values;
                  -preview in the wizard and -silent -preview -log; nothing is deleted
  sandbox         traces of three shipped products, then the wizard for a person to use
                  (scripts/run.sh on a display)

Keys go through xdotool as a user types them; WizardDriver reads the controls back.
The registry is compared as a whole, from the prefix's registry files, before and after.

The same runs serve the x86-64 test build in a 64-bit prefix (the defaults) and the shipping
i686 exe under 32-bit Wine: --wine and --wineserver are the commands that start those two
(default $KEYSTRIP_WINE, $KEYSTRIP_WINESERVER, else 64-bit Wine), and --prefix-arch says where
the 32-bit view's keys lie in the registry files (see physical).
"""

import argparse
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import time

TITLE = "Zolva Keystrip"

ROOTS = {
    "HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE",
    "HKEY_CLASSES_ROOT": "HKEY_CLASSES_ROOT",
    "HKEY_CURRENT_USER": "HKEY_CURRENT_USER",
    "HKEY_USERS": "HKEY_USERS",
}
# Which registry file holds a root's keys.
HIVES = {"HKEY_LOCAL_MACHINE": "system", "HKEY_CLASSES_ROOT": "system",
         "HKEY_CURRENT_USER": "user", "HKEY_USERS": "userdef"}

UNRELATED = [
    ("HKEY_LOCAL_MACHINE", r"SOFTWARE\Zolva\Unrelated Tool", "Keep", "yes"),
    ("HKEY_CURRENT_USER", r"Software\Microsoft\Windows\CurrentVersion\Run", "UnrelatedStartup",
     "tool.exe"),
    ("HKEY_CLASSES_ROOT", r".zolvaunrelated", "", "Unrelated.Document"),
]


# What Wine itself rewrites at every start (device data of its drivers); nothing of
# ours lives there.
VOLATILE = [
    "system\\currentcontrolset\\control\\class",
    "system\\currentcontrolset\\enum",
]
# The program's own record of the backups it writes (in the 32-bit view of a 64-bit
# prefix, and of a 32-bit one): it grows with every -backup run, by design, and is
# compared by the scenarios that look at it.
OWN_RECORD = [
    "software\\wow6432node\\zolvakeystrip",
    "software\\zolvakeystrip",
]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Wine:
    def __init__(self, args):
        self.args = args
        self.wine = shlex.split(args.wine)
        self.wineserver = shlex.split(args.wineserver)
        self.env = dict(os.environ, WINEPREFIX=args.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")

    def run(self, *command, timeout=60):
        # Output goes through files: a Wine process started on the way (the
        # server, a device host) may inherit a pipe and keep it open.
        for attempt in range(3):
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                result = subprocess.run([*self.wine, *command], env=self.env, stdout=out,
                                        stderr=err, stdin=subprocess.DEVNULL, timeout=timeout)
                out.seek(0)
                err.seek(0)
                result.stdout, result.stderr = out.read(), err.read()
            # A client that connects just as an idle server exits is refused before
            # its program starts ("wine client error: ... Connection reset by peer"):
            # the program never ran, so it runs again.
            if result.returncode == 0 or not result.stderr.startswith(b"wine client error"):
                break
            print("wine server went away under", command[0], "- again", flush=True)
            time.sleep(1)
        return result

    def start(self, *command):
        print("start", *command, flush=True)
        return subprocess.Popen([*self.wine, *command], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def driver(self, *command, timeout=60):
        print("driver", *command, flush=True)
        result = self.run(os.path.join(self.args.bin, "WizardDriver.exe"), *command,
                          timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def state(self):
        rc, out = self.driver("state")
        check(rc == 0, "the driver found no wizard window")
        facts = {}
        for line in out.splitlines():
            key, _, value = line.partition("=")
            facts[key] = value
        return facts

    def wait_page(self, page, timeout=30):
        end = time.time() + timeout
        facts = {}
        while time.time() < end:
            rc, out = self.driver("state")
            if rc == 0:
                facts = dict(line.partition("=")[::2] for line in out.splitlines())
                if facts.get("page") == str(page):
                    return facts
            time.sleep(0.2)
        raise Failure("page %s did not show (last state: page %s)" % (page, facts.get("page")))

    def flush(self):
        """Ends the prefix's processes, which writes the registry files."""
        subprocess.run([*self.wineserver, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([*self.wineserver, "-w"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def reg_import(self, text, name):
        path = os.path.join(self.args.work, name)
        with open(path, "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n" + text)
        result = self.run("reg", "import", "Z:" + path.replace("/", "\\"), "/reg:32")
        check(result.returncode == 0, "reg import %s failed (exit code %d): %s" %
              (name, result.returncode, result.stderr))


# --- the registry files ----------------------------------------------------------

def read_hive(path):
    """{key path (lower case): {value name (lower case): raw text}} of a Wine registry file."""
    keys, current, pending = {}, None, []
    with open(path, encoding="utf-8", errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if pending:
                pending.append(line.lstrip())
                # Parts joined once: a 1 MB value spans tens of thousands of lines.
                line = "".join(pending) if not line.endswith("\\") else None
                if line is None:
                    pending[-1] = pending[-1][:-1]
                    continue
                pending = []
            elif line.endswith("\\") and not line.startswith("["):
                pending = [line[:-1]]
                continue
            if line.startswith("["):
                name = line[1:line.rindex("]")]
                current = keys.setdefault(name.replace("\\\\", "\\").lower(), {})
            elif current is not None and line == "#link":
                current["#link"] = "link"  # a link, not a key holding a link's value
            elif current is not None and line and not line.startswith("#") and "=" in line:
                if line.startswith("@="):
                    current[""] = line[2:]
                else:
                    match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
                    if match:
                        current[match.group(1).replace("\\\\", "\\").lower()] = match.group(2)
    # Wine leaves out keys that have subkeys but no values; they exist all the same.
    for key in list(keys):
        parts = key.split("\\")
        for n in range(1, len(parts)):
            keys.setdefault("\\".join(parts[:n]), {})
    for hive_key in [k for k in keys if any(k == i or k.startswith(i + "\\")
                                            for i in VOLATILE + OWN_RECORD)]:
        del keys[hive_key]
    return keys


def snapshot(wine):
    wine.flush()
    return {hive: read_hive(os.path.join(wine.args.prefix, hive + ".reg"))
            for hive in ("system", "user", "userdef")}


def without(snap, keys, values):
    """A copy of snap without the given (hive, key) subtrees and (hive, key, value) values."""
    result = {}
    for hive, tree in snap.items():
        gone = [k for h, k in keys if h == hive]
        result[hive] = {}
        for key, vals in tree.items():
            if any(key == g or key.startswith(g + "\\") for g in gone):
                continue
            result[hive][key] = {n: v for n, v in vals.items()
                                 if (hive, key, n) not in values}
    return result


def differences(expected, actual):
    lines = []
    for hive in expected:
        e, a = expected[hive], actual[hive]
        for key in sorted(set(e) | set(a)):
            if key not in a:
                lines.append("%s: key [%s] was deleted unexpectedly" % (hive, key))
            elif key not in e:
                lines.append("%s: key [%s] should be gone or is new" % (hive, key))
            elif e[key] != a[key]:
                for name in sorted(set(e[key]) | set(a[key])):
                    if e[key].get(name) != a[key].get(name):
                        lines.append("%s: [%s] value %r: expected %s, found %s" %
                                     (hive, key, name, e[key].get(name), a[key].get(name)))
    return lines


# --- products and their traces -----------------------------------------------------

def load_products(resources):
    products = []
    for i in range(1, 100):
        path = os.path.join(resources, "products", "ZolvaProduct%d.json" % i)
        if not os.path.exists(path):
            break
        with open(path, encoding="utf-8") as f:
            products.append(json.load(f))
    return products


def reg_path(root, key):
    return ROOTS[root] + ("\\" + key if key else "")


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def reg_name(name):
    return "@" if name == "" else reg_string(name)


def traces(product):
    """.reg text planting a product's traces: every key its removal rules name, with a value
    and a subkey of its own, every value they name, and what its detection rules look for."""
    out = []
    for rule in product["removal"]:
        path = reg_path(rule["root"], rule["key"])
        if rule["action"] == "CompleteKey":
            out.append("[%s]\r\n\"InstallDir\"=\"C:\\\\Zolva\"\r\n\r\n" % path)
            out.append("[%s\\Settings]\r\n\"Level\"=dword:00000003\r\n\r\n" % path)
        else:
            out.append("[%s]\r\n%s=\"planted\"\r\n\r\n" % (path, reg_name(rule["name"])))
    for rule in product["detection"]:
        path = reg_path(rule["root"], rule["key"])
        if rule["action"] == "KeyExist":
            out.append("[%s]\r\n\r\n" % path)
        else:
            out.append("[%s]\r\n%s=%s\r\n\r\n" % (path, reg_name(rule["name"]),
                                                 reg_string(rule.get("value") or "x")))
    return "".join(out)


def unrelated_traces():
    return "".join("[%s]\r\n%s=%s\r\n\r\n" % (reg_path(r, k), reg_name(n), reg_string(v))
                   for r, k, n, v in UNRELATED)


def cleanup_list(products):
    """Lines for WizardDriver unplant: every key and value any product's rules name."""
    out = []
    for product in products:
        for rule in product["removal"] + product["detection"]:
            if rule["action"] in ("CompleteKey", "KeyExist"):
                out.append("K\t%s\t%s\n" % (rule["root"], rule["key"]))
            else:
                out.append("V\t%s\t%s\t%s\n" % (rule["root"], rule["key"], rule["name"]))
    for root, key, name, _ in UNRELATED:
        out.append("V\t%s\t%s\t%s\n" % (root, key, name))
    return "".join(out)


def physical(root, key, arch="win64"):
    """Where a logical key of the 32-bit view may lie in Wine's registry files. In a 64-bit
    prefix some keys are redirected to Wow6432Node, others are shared between the views; a
    32-bit prefix has one view only, and every key lies where it is named."""
    key = key.lower()
    if root == "HKEY_CLASSES_ROOT":
        if arch == "win32":
            return ["software\\classes\\" + key]
        return ["software\\classes\\" + key, "software\\classes\\wow6432node\\" + key]
    if root == "HKEY_USERS":
        return [key.split("\\", 1)[1]]  # .DEFAULT is the top of userdef.reg
    if root == "HKEY_LOCAL_MACHINE" and key.startswith("software\\classes\\"):
        return physical("HKEY_CLASSES_ROOT", key[len("software\\classes\\"):], arch)
    if root == "HKEY_LOCAL_MACHINE" and key.startswith("software\\") and arch == "win64":
        return [key, "software\\wow6432node\\" + key[len("software\\"):]]
    return [key]


def removed_by(products, before, planted, arch):
    """The (hive, key) subtrees and (hive, key, value) values that the removal rules of the
    products name, located among what planting added."""
    keys, values = set(), set()
    for product in products:
        for rule in product["removal"]:
            hive = HIVES[rule["root"]]
            places = physical(rule["root"], rule["key"], arch)
            if rule["action"] == "CompleteKey":
                found = [k for k in places if k in planted[hive] and k not in before[hive]]
                check(len(found) == 1, "planted key of %s: %s" % (rule["key"], found))
                keys.add((hive, found[0]))
            else:
                name = rule["name"].lower()
                found = [k for k in places if name in planted[hive].get(k, {}) and
                         name not in before[hive].get(k, {})]
                check(len(found) == 1, "planted value %s of %s: %s" % (name, rule["key"], found))
                values.add((hive, found[0], name))
    return keys, values


def plant(wine, products, planted):
    """Cleans every product's traces, plants those of `planted` and the unrelated ones,
    and returns the registry before and after planting."""
    path = os.path.join(wine.args.work, "unplant.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write(cleanup_list(products))
    rc, _ = wine.driver("unplant", "Z:" + path.replace("/", "\\"))
    check(rc == 0, "cleaning the traces failed")
    before = snapshot(wine)
    wine.reg_import("".join(traces(p) for p in planted) + unrelated_traces(), "plant.reg")
    after = snapshot(wine)
    return before, after


def expect_registry(wine, expected, what):
    diff = differences(expected, snapshot(wine))
    check(not diff, "%s: %d differences\n  %s" % (what, len(diff), "\n  ".join(diff[:40])))


def files_of(root):
    """{path: (size, mtime)} of every file below root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            try:
                st = os.stat(path)
            except OSError:
                continue
            found[path] = (st.st_size, st.st_mtime_ns)
    return found


def written_files(before, after):
    return sorted(p for p in after if before.get(p) != after[p])


# --- the display -----------------------------------------------------------------

def window_id():
    out = subprocess.run(["xdotool", "search", "--name", "^%s$" % TITLE], capture_output=True,
                         text=True).stdout.split()
    return out[0] if out else None


def keys(*names):
    wid = window_id()
    check(wid is not None, "no X window titled %s" % TITLE)
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], capture_output=True, timeout=10)
    for name in names:
        subprocess.run(["xdotool", "key", "--delay", "80", name], check=True, timeout=10)
        time.sleep(0.3)


def screenshot(args, name):
    time.sleep(0.5)  # let the last paint land
    wid = window_id()
    check(wid is not None, "no X window to photograph")
    os.makedirs(args.screenshots, exist_ok=True)
    path = os.path.join(args.screenshots, name + ".png")
    subprocess.run(["import", "-window", wid, path], check=True, timeout=30)
    print("screenshot", path)


def client_pixels(path):
    """The pixels of a window photograph as {(x, y): "RRGGBB"} in client coordinates, the
    client origin found from the design: the banner's top grey shadow row (client row 51)
    and the panel's left border (client column 4)."""
    dump = subprocess.run(["convert", path, "-depth", "8", "txt:-"], capture_output=True,
                          text=True, check=True).stdout
    pixels = {}
    for line in dump.splitlines():
        match = re.match(r"(\d+),(\d+): \S+\s+#([0-9A-Fa-f]{6})", line)
        if match:
            pixels[(int(match.group(1)), int(match.group(2)))] = match.group(3).upper()
    width = max(x for x, _ in pixels) + 1
    height = max(y for _, y in pixels) + 1
    column = width // 2
    shadow = [y for y in range(height) if pixels[(column, y)] == "C9C9C9"]
    check(shadow, "no banner shadow in %s" % path)
    top = shadow[0] - 51
    border = [x for x in range(width) if pixels[(x, top + 100)] == "C8C8C8"]
    check(border, "no panel border in %s" % path)
    left = border[0] - 4
    return {(x - left, y - top): c for (x, y), c in pixels.items()}


# Client pixels every page shows at 96 pixels per inch: the window ground, the
# panel's border and fill, the banner's shadow line.
FRAME_PIXELS = [((3, 61), "F0F0F0"), ((4, 61), "C8C8C8"), ((5, 62), "F8F8F8"),
                ((489, 368), "C8C8C8"), ((490, 369), "F0F0F0"), ((250, 51), "C9C9C9"),
                ((250, 56), "F7F7F7"), ((250, 58), "F0F0F0"), ((480, 5), "FFFFFF")]
# Page controls sit 8, 65 into the client area.
PAGE = (8, 65)


def expect_pixels(args, name, page_pixels):
    pixels = client_pixels(os.path.join(args.screenshots, name + ".png"))
    wrong = []
    for (x, y), colour in FRAME_PIXELS + [((PAGE[0] + x, PAGE[1] + y), c)
                                          for (x, y), c in page_pixels]:
        if pixels.get((x, y)) != colour:
            wrong.append("(%d,%d) %s, expected %s" % (x, y, pixels.get((x, y)), colour))
    check(not wrong, "%s: %s" % (name, "; ".join(wrong)))


def to_products_page(wine, args, *switches):
    """Starts the wizard and accepts its terms; returns the process on the products page."""
    process = wine.start(args.exe, *switches)
    check(wine.driver("wait", "30")[0] == 0, "the wizard did not show")
    wine.wait_page(0)
    keys("Return")
    wine.wait_page(1)
    return process


def finish(process, timeout=30):
    try:
        rc = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure("the wizard did not end")
    check(rc == 0, "exit code %d" % rc)


# --- scenarios -------------------------------------------------------------------

def scenario_flow(wine, args, products):
    chosen = [products[0], products[2]]
    before, planted = plant(wine, products, chosen)
    keys_gone, values_gone = removed_by(chosen, before, planted, args.prefix_arch)

    # Without any switch the program writes no file: the prefix's drive and the exe's
    # folder are compared before and after the whole run.
    watched = [os.path.join(args.prefix, "drive_c"), os.path.dirname(args.exe)]
    files = [files_of(folder) for folder in watched]
    process = wine.start(args.exe)
    check(wine.driver("wait", "30")[0] == 0, "the wizard did not show")
    facts = wine.wait_page(0)
    check(facts["default"] == "EulaAcceptButton", "terms page default: %s" % facts["default"])
    check(facts["EulaAcceptButton.caption"] == "&Accept", "Accept caption")
    screenshot(args, "1-terms")
    # EulaFrame's border and white gap around the text view.
    expect_pixels(args, "1-terms", [((2, 2), "C8C8C8"), ((3, 3), "FFFFFF"),
                                    ((475, 231), "C8C8C8")])

    keys("Return")
    facts = wine.wait_page(1)
    rows = [facts["ProductsListBox.row%d" % i] for i in range(len(products))]
    expected_rows = ["%d %s" % (1 if p in chosen else 0, p["name"]) for p in products]
    check(rows == expected_rows, "rows %s, expected %s" % (rows, expected_rows))
    check(facts["ProductsSelectAllBox.check"] == "2", "select-all is not indeterminate")
    check(facts["ProductsRemoveButton.enabled"] == "1", "Remove is disabled")
    check(facts["default"] == "ProductsRemoveButton", "products default: %s" % facts["default"])
    total = len(products) + 1
    check(facts["ProgressBar.position"] == "%d/%d" % (total, total), "detection progress")
    screenshot(args, "2-products")
    # ProductsFrame, and the warning symbol's tile at (16, 220).
    expect_pixels(args, "2-products", [((2, 30), "C8C8C8"), ((3, 31), "FFFFFF"),
                                       ((475, 179), "C8C8C8"), ((18, 232), "D84F4F")])

    keys("Return")
    facts = wine.wait_page(2)
    check(facts["SuccessLabel1.caption"].startswith("All selected Zolva registry keys"),
          "result: %s" % facts["SuccessLabel1.caption"])
    check(facts["SuccessMemo.visible"] == "0" and facts["SuccessShowDetailsBox.visible"] == "1",
          "report shown too early")
    check(facts["default"] == "SuccessCloseButton", "result default: %s" % facts["default"])
    screenshot(args, "3-result")
    expect_pixels(args, "3-result", [((18, 28), "91BF6F")])  # the success symbol

    keys("Tab", "space")  # from Ok to the show-details box, and tick it
    facts = wine.state()
    check(facts["SuccessMemo.visible"] == "1" and facts["SuccessBackground.visible"] == "1",
          "the report did not show")
    check(facts["SuccessShowDetailsBox.visible"] == "0", "the show-details box stayed")
    rc, report = wine.driver("text", "SuccessMemo")
    for product in chosen:
        check('Removing product "%s"' % product["name"] in report, "report misses a product")
        for rule in product["removal"]:
            if rule["action"] == "CompleteKey":
                check(re.search(re.escape(rule["key"]) + r'" deleted', report),
                      "report misses %s" % rule["key"])
    check("Detecting" not in report, "detection entries in the report")
    # Only a plain removal's entries: nothing of a preview, a backup, a restore or of
    # other users' profiles without the switches that ask for them.
    plain = re.compile(r'(Removing product ".*"|  (Key|Name) ".*" (deleted|not deleted .*|not found)|Done: \w+)')
    odd = [line for line in report.replace("\r", "").split("\n")
           if line and not plain.fullmatch(line)]
    check(not odd, "entries beyond a plain removal: %s" % odd)
    screenshot(args, "4-report")
    expect_pixels(args, "4-report", [((2, 75), "C8C8C8"), ((3, 76), "FFFFFF"),
                                     ((18, 28), "91BF6F")])  # SuccessBackground shown

    keys("Return")
    finish(process)
    expect_registry(wine, without(planted, keys_gone, values_gone), "after the removal")
    wine.flush()  # whatever the run would write is on disk now
    written = [p for before, folder in zip(files, watched)
               for p in written_files(before, files_of(folder))]
    check(not written, "the run without switches wrote %s" % written)

    # The progress page, held by the gallery program as a run holds it.
    gallery = wine.start(os.path.join(args.bin, "WizardGallery.exe"), "4")
    check(wine.driver("wait", "30")[0] == 0, "the gallery did not show")
    time.sleep(1.5)
    screenshot(args, "5-progress")
    finish(gallery)


def scenario_silent(wine, args, products):
    chosen = products[args.product]
    before, planted = plant(wine, products, products)
    keys_gone, values_gone = removed_by([chosen], before, planted, args.prefix_arch)
    name = chosen["name"].swapcase()
    # The watcher polls from before the start until the window is gone again.
    log = os.path.join(args.work, "watch.txt")
    with open(log, "w") as out:
        watcher = subprocess.Popen([*wine.wine, os.path.join(args.bin, "WizardDriver.exe"), "watch",
                                    "30"], env=wine.env, stdout=out, stderr=subprocess.DEVNULL)
    end = time.time() + 30
    while "watching" not in open(log).read() and time.time() < end:
        time.sleep(0.1)
    process = wine.start(args.exe, "-silent", "-product", name)
    finish(process)
    watcher.wait(timeout=40)
    seen = open(log).read().replace("watching", "").strip()
    print("watch:", seen)
    check(seen == "never shown (hidden window seen)", "watching the silent run: %s" % seen)
    expect_registry(wine, without(planted, keys_gone, values_gone), "after the silent removal")


def scenario_silent_unknown(wine, args, products):
    _, planted = plant(wine, products, [products[3]])
    process = wine.start(args.exe, "-SILENT", "-product", "Zolva Nothing At All")
    check(wine.driver("wait", "30")[0] == 0, "the window did not show")
    facts = wine.wait_page(0)
    check(facts["default"] == "EulaAcceptButton", "terms page default")
    wine.driver("click", "EulaExitButton")
    finish(process)
    expect_registry(wine, planted, "after a run that removed nothing")


def scenario_errors(wine, args, products):
    process = wine.start(os.path.join(args.bin, "ZolvaKeystripNoEula.exe"))
    check(wine.driver("wait", "30")[0] == 0, "the window did not show")
    facts = wine.wait_page(4)
    check(facts["ErrorLabel.caption"] == "An unknown error occurred. Error code: 1000.",
          "error label: %s" % facts["ErrorLabel.caption"])
    check(facts["default"] == "", "the error page has a default button")
    screenshot(args, "6-error")
    expect_pixels(args, "6-error", [((18, 28), "D84F4F")])  # the error symbol
    keys("Return")  # the focused Close button
    finish(process)

    process = wine.start(os.path.join(args.bin, "ZolvaKeystripNoProducts.exe"))
    check(wine.driver("wait", "30")[0] == 0, "the window did not show")
    wine.wait_page(0)
    keys("alt+a")
    facts = wine.wait_page(4)
    check(facts["ErrorLabel.caption"] == "An unknown error occurred. Error code: 1003.",
          "error label: %s" % facts["ErrorLabel.caption"])
    wine.driver("click", "ErrorCloseButton")
    finish(process)


def scenario_dpi(wine, args, products):
    plant(wine, products, [products[4]])
    try:
        for dpi, client in ((144, "741x561"), (192, "988x748")):
            result = wine.run("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                              "/t", "REG_DWORD", "/d", str(dpi), "/f")
            check(result.returncode == 0, "LogPixels not set")
            wine.flush()
            process = wine.start(args.exe)
            check(wine.driver("wait", "30")[0] == 0, "the window did not show")
            facts = wine.wait_page(0)
            check(facts["client"] == client, "client %s at %d, expected %s" %
                  (facts["client"], dpi, client))
            screenshot(args, "terms-%d" % dpi)
            keys("Return")
            wine.wait_page(1)
            screenshot(args, "products-%d" % dpi)
            keys("alt+c")
            finish(process)
    finally:
        wine.run("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                 "REG_DWORD", "/d", "96", "/f")
        wine.flush()


def planter(wine, *command):
    result = wine.run(os.path.join(wine.args.bin, "HostilePlanter.exe"), *command)
    check(result.returncode == 0, "HostilePlanter %s: %s" % (" ".join(command), result.stderr))
    return result.stdout.decode("utf-8", "replace").strip()


def remove_silently(wine, args, product):
    process = wine.start(args.exe, "-silent", "-product", product["name"])
    finish(process, timeout=60)


def scenario_hostile(wine, args, products):
    office, photo = products[0], products[2]
    hklm_office, hkcu_office = r"SOFTWARE\Zolva\Office Suite", r"Software\Zolva\Office Suite"
    # Whatever an earlier run left is taken away without following a link.
    hostile = [("HKCU", r"Software\Zolva"), ("HKLM", r"SOFTWARE\Zolva"),
               ("HKLM", r"SOFTWARE\ZolvaVictim")]

    def clean():
        for root, key in hostile:
            planter(wine, "rmtree", root, key)

    clean()
    try:
        # Names that C-string calls cut short, and links inside the product's trees: to
        # the machine's classes (which has a Wow6432Node subkey), to the 32-bit SOFTWARE
        # (which holds every product's keys) and back to the tree itself.
        before, _ = plant(wine, products, [office])
        for name in ("<NUL>hidden", "ghost<NUL>x", "abc<NUL>", "abc", "<NUL>"):
            planter(wine, "nulkey", "HKLM", hklm_office + r"\Settings", name)
        planter(wine, "link", "HKLM", hklm_office + r"\Classes",
                r"\REGISTRY\MACHINE\Software\Classes")
        planter(wine, "link", "HKCU", hkcu_office + r"\Software", r"\REGISTRY\MACHINE\Software")
        planter(wine, "link", "HKCU", hkcu_office + r"\Loop",
                planter(wine, "kernel", "HKCU", hkcu_office))
        planted = snapshot(wine)
        keys_gone, values_gone = removed_by([office], before, planted, args.prefix_arch)
        remove_silently(wine, args, office)
        expect_registry(wine, without(planted, keys_gone, values_gone),
                        "after removing %s from a tree with NUL names and links" % office["name"])

        # The user's own HKCU\Software\Zolva made a link to machine keys: the rule whose
        # path passes it is refused, and every other rule of the product is applied.
        before, _ = plant(wine, products, [photo])
        planter(wine, "rmtree", "HKCU", r"Software\Zolva")
        wine.reg_import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZolvaVictim\\Photo Studio]\r\n"
                        "\"Keep\"=\"precious\"\r\n\r\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZolvaVictim\\Photo Studio\\Sub]\r\n"
                        "\"Keep\"=\"precious\"\r\n\r\n", "victim.reg")
        planter(wine, "link", "HKCU", r"Software\Zolva",
                planter(wine, "kernel", "HKLM", r"SOFTWARE\ZolvaVictim"))
        planted = snapshot(wine)
        applied = dict(photo, removal=[r for r in photo["removal"] if not (
            r["root"] == "HKEY_CURRENT_USER" and r["key"].lower().startswith("software\\zolva\\"))])
        check(len(applied["removal"]) == len(photo["removal"]) - 1, "one rule passes the link")
        keys_gone, values_gone = removed_by([applied], before, planted, args.prefix_arch)
        remove_silently(wine, args, photo)
        expect_registry(wine, without(planted, keys_gone, values_gone),
                        "after removing %s through a user's link" % photo["name"])
    finally:
        clean()


def zpath(path):
    return "Z:" + path.replace("/", "\\")


def first_key_rule(product, root=None):
    return next(r for r in product["removal"] if r["action"] == "CompleteKey" and
                (root is None or r["root"] == root))


# Values whose bytes Wine's reg import cannot carry (it adds a NUL to string data
# that lacks one), which the comparison after reg import leaves out.
UNCARRIED = ("unterminated", "odd size")


def plant_torture(wine, root, key, full):
    """Below root\\key\\Torture: every value type, names the .reg format must escape,
    255-character names, empty keys, default values; with full, 40 levels, a 1 MB value
    and a link."""
    top = key + r"\Torture"
    short = {"HKEY_LOCAL_MACHINE": "HKLM", "HKEY_CURRENT_USER": "HKCU",
             "HKEY_CLASSES_ROOT": "HKCR"}[root]
    text = ["[%s\\%s]\r\n@=\"default text\"\r\n\"text\"=\"plain \\\"quoted\\\" back\\\\slash "
            "\u00e4\u20ac\"\r\n\"dword\"=dword:deadbeef\r\n\r\n" % (root, top)]
    names = ["back\\\\slash", "quote\\\"d", "br]acket", "eq=ual", "semi;colon",
             "\u00c4\u00f6\u00fc\u0416", "v" * 255]
    text.append("[%s\\%s\\Names]\r\n%s\r\n" % (root, top, "".join(
        '"%s"="x"\r\n' % n for n in names)))
    for sub in ("br]acket]key", "eq=ual;key\u00e4", "k" * 255, "Empty"):
        text.append("[%s\\%s\\Names\\%s]\r\n\r\n" % (root, top, sub))
    if full:
        deep = top + "".join(r"\L%d" % i for i in range(40))
        text.append("[%s\\%s]\r\n\"level\"=dword:00000028\r\n\r\n" % (root, deep))
    wine.reg_import("".join(text), "torture.reg")
    values = [("unterminated", 1, "61006200"), ("odd size", 1, "610062"),
              ("inner nul", 1, "6100000062000000"), ("expand", 2, "250078000000"),
              ("multi", 7, "6f006e0065000000740077006f0000000000"),
              ("qword", 11, "0102030405060708"), ("short dword", 4, "010203"),
              ("none", 0, "-"), ("unknown type", 0x12345, "07"), ("empty sz", 1, "-")]
    for name, kind, data in values:
        planter(wine, "value", short, top + r"\Types", name, str(kind), data)
    if full:
        planter(wine, "bigvalue", short, top + r"\Big", "blob", str(1 << 20))
        planter(wine, "link", short, top + r"\Link", planter(wine, "kernel", "HKLM", "SOFTWARE"))
        # A plain key that only holds a link's value, as any user can make: it comes back
        # as a plain key, not as a link.
        planter(wine, "value", short, top + r"\FakeLink", "SymbolicLinkValue", "6",
                "5c00520045004700490053005400520059005c004d0041004300480049004e004500")


def backed_up_and_restored(wine, args, product, full, reg_import):
    before, _ = plant(wine, args.products, [product])
    rule = first_key_rule(product, "HKEY_CURRENT_USER") if full else first_key_rule(product)
    plant_torture(wine, rule["root"], rule["key"], full)
    planted = snapshot(wine)
    keys_gone, values_gone = removed_by([product], before, planted, args.prefix_arch)
    backup = os.path.join(args.work, "backup-%d.reg" % args.products.index(product))
    if os.path.exists(backup):
        os.remove(backup)
    finish(wine.start(args.exe, "-silent", "-product", product["name"], "-backup",
                      zpath(backup)), timeout=120)
    expect_registry(wine, without(planted, keys_gone, values_gone),
                    "after removing %s with a backup" % product["name"])
    finish(wine.start(args.exe, "-silent", "-restore", zpath(backup)), timeout=120)
    expect_registry(wine, planted, "after restoring %s" % product["name"])
    if not reg_import:
        return
    finish(wine.start(args.exe, "-silent", "-product", product["name"]), timeout=120)
    result = wine.run("reg", "import", zpath(backup), "/reg:32", timeout=120)
    check(result.returncode == 0, "reg import of the backup failed: %s" % result.stderr)
    actual = snapshot(wine)
    diff = [d for d in differences(planted, actual)
            if not ("#link" in d or any("%r" % name in d for name in UNCARRIED))]
    check(not diff, "after reg import of the backup: %d differences\n  %s" %
          (len(diff), "\n  ".join(diff[:40])))


def scenario_roundtrip(wine, args, products):
    args.products = products
    for index, product in enumerate(products):
        backed_up_and_restored(wine, args, product, full=index == 0, reg_import=index == 0)
    # The wizard with -backup: Enter on the terms, Enter for Remove, Enter for Ok.
    product = products[4]
    before, _ = plant(wine, products, [product])
    planted = snapshot(wine)
    backup = os.path.join(args.work, "backup-wizard.reg")
    if os.path.exists(backup):
        os.remove(backup)
    process = to_products_page(wine, args, "-backup", zpath(backup))
    keys("Return")
    facts = wine.wait_page(2)
    rc, report = wine.driver("text", "SuccessMemo")
    check('Backup of everything deleted: "%s"' % zpath(backup) in report,
          "the report does not name the backup")
    keys("Return")
    finish(process)
    keys_gone, values_gone = removed_by([product], before, planted, args.prefix_arch)
    expect_registry(wine, without(planted, keys_gone, values_gone), "after the wizard's removal")
    finish(wine.start(args.exe, "-silent", "-restore", zpath(backup)), timeout=120)
    expect_registry(wine, planted, "after restoring the wizard's backup")


def preview_window(wine, args, product, shot=None):
    """Reads the open preview window of the product, checks it and closes it."""
    rc, out = wine.driver("preview", "20")
    check(rc == 0, "the preview window did not show")
    head, _, report = out.replace("\r", "").partition("\n\n")
    facts = dict(line.partition("=")[::2] for line in head.splitlines())
    check(facts["title"] == "What will be removed", "preview title: %s" % facts["title"])
    check(facts["owner.enabled"] == "0", "the wizard is not disabled behind the preview")
    check(facts["tree"] == "SysTreeView32", "the preview shows no tree: %s" % facts["tree"])
    # The product, its rules' targets (its first level open).
    check(int(facts["tree.items"]) == 1 + len(product["removal"]),
          "the tree's first level: %s items" % facts["tree.items"])
    check(facts["copy"] == "&Copy", "copy button: %s" % facts["copy"])
    check(facts["close"] == "&Close", "close button: %s" % facts["close"])
    check_preview_report(report, product)
    if shot:
        # Open the first target with everything below it, from the keyboard.
        subprocess.run(["xdotool", "key", "--delay", "150", "Down", "KP_Multiply"],
                       check=True, timeout=10)
        time.sleep(0.5)
        out = subprocess.run(["xdotool", "search", "--name", "^What will be removed$"],
                             capture_output=True, text=True).stdout.split()
        check(out, "no X window for the preview")
        os.makedirs(args.screenshots, exist_ok=True)
        path = os.path.join(args.screenshots, shot + ".png")
        subprocess.run(["import", "-window", out[0], path], check=True, timeout=30)
        print("screenshot", path)
    subprocess.run(["xdotool", "key", "Escape"], check=True, timeout=10)
    check(wine.driver("preview", "1")[0] != 0, "Escape did not close the preview")


def check_preview_report(report, product):
    lines = report.replace("\r", "").split("\n")
    check('Checking what removing product "%s" would delete' % product["name"] in lines,
          "the preview names no product:\n" + report)
    for rule in product["removal"]:
        path = reg_path(rule["root"], rule["key"])
        if rule["action"] == "CompleteKey":
            wanted = r'  Key "%s" would be deleted \(\d+ keys?, \d+ values?\)' % re.escape(path)
        else:
            wanted = r'  Name "%s" would be deleted \(REG_SZ, \d+ bytes\)' % re.escape(
                path + "\\" + rule["name"])
        check(any(re.fullmatch(wanted, line) for line in lines),
              "the preview misses %s:\n%s" % (wanted, report))
    check(not any(line.endswith(" deleted") for line in lines), "the preview deleted")


def scenario_preview(wine, args, products):
    product = products[2]
    plant(wine, products, [product])
    planted = snapshot(wine)

    process = to_products_page(wine, args)
    for _ in range(8):
        if wine.state()["focus"] == "ProductsListBox":
            break
        keys("Tab")
    check(wine.state()["focus"] == "ProductsListBox", "Tab never reached the products list")
    row = [wine.state()["ProductsListBox.row%d" % i] for i in range(len(products))].index(
        "1 " + product["name"])
    keys("Home", *["Down"] * row)
    for opening in ("shift+F10", "Menu"):
        keys(opening)
        time.sleep(0.5)
        # Opened from the keyboard, the menu has no item highlighted yet.
        subprocess.run(["xdotool", "key", "--delay", "80", "Down", "Return"], check=True,
                       timeout=10)
        preview_window(wine, args, product, "preview" if opening == "Menu" else None)
    check(wine.driver("dblclick", "ProductsListBox", str(row))[0] == 0, "no row to click")
    preview_window(wine, args, product)
    facts = wine.state()
    check(facts["page"] == "1" and facts["ProductsListBox.row%d" % row] == "1 " + product["name"],
          "the previews changed the products page")
    keys("alt+F4")
    finish(process)
    expect_registry(wine, planted, "after the previews")

    # -preview in the wizard: the removal step previews, the result page says so.
    process = to_products_page(wine, args, "-preview")
    keys("Return")
    facts = wine.wait_page(2)
    check(facts["SuccessLabel1.caption"].startswith("Nothing was removed."),
          "result: %s" % facts["SuccessLabel1.caption"])
    check_preview_report(wine.driver("text", "SuccessMemo")[1], product)
    keys("Return")
    finish(process)
    expect_registry(wine, planted, "after the wizard's preview")

    # -silent -preview: the report goes to the log; without -log nothing runs.
    log = r"C:\ProgramData\keystrip-preview.log"
    path = os.path.join(args.prefix, "drive_c", "ProgramData", "keystrip-preview.log")
    if os.path.exists(path):
        os.remove(path)
    rc = wine.start(args.exe, "-silent", "-preview", "-exitcode", "-log", log).wait(60)
    check(rc == 0, "-silent -preview -log: exit code %d" % rc)
    check_preview_report(open(path, encoding="utf-8-sig").read(), product)
    rc = wine.start(args.exe, "-silent", "-preview", "-exitcode").wait(60)
    check(rc == 3, "-silent -preview without -log: exit code %d" % rc)
    expect_registry(wine, planted, "after the silent previews")


def scenario_sandbox(wine, args, products):
    chosen = [products[0], products[2], products[4]]
    plant(wine, products, chosen)
    print("Planted the traces of: %s" % ", ".join(p["name"] for p in chosen))
    rc = wine.start(args.exe).wait()
    print("The wizard ended with exit code %d." % rc)


SCENARIOS = {"flow": scenario_flow, "sandbox": scenario_sandbox, "silent": scenario_silent,
             "hostile": scenario_hostile, "roundtrip": scenario_roundtrip,
             "silent-unknown": scenario_silent_unknown, "errors": scenario_errors,
             "dpi": scenario_dpi, "preview": scenario_preview}


def harness_arguments(scenarios):
    """The command line every scenario script of this harness takes."""
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(scenarios))
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--resources", required=True)
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--wine", default=os.environ.get("KEYSTRIP_WINE", "/usr/lib/wine/wine64"))
    parser.add_argument("--wineserver",
                        default=os.environ.get("KEYSTRIP_WINESERVER", "/usr/lib/wine/wineserver"))
    parser.add_argument("--prefix-arch", choices=("win64", "win32"), default="win64")
    return parser


def harness(args):
    """The Wine of the parsed arguments and the shipped products; makes the work folder."""
    args.work = os.path.join(os.path.dirname(args.prefix), "e2e-work")
    os.makedirs(args.work, exist_ok=True)
    return Wine(args), load_products(args.resources)


def main():
    parser = harness_arguments(SCENARIOS)
    parser.add_argument("--product", type=int, default=1, help="silent: the product's index")
    args = parser.parse_args()
    wine, products = harness(args)
    try:
        SCENARIOS[args.scenario](wine, args, products)
    except Failure as failure:
        print("FAILED:", failure)
        return 1
    print("passed:", args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
