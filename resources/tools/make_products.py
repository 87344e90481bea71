#!/usr/bin/env python3
"""Writes resources/products/ZolvaProduct<N>.json, the product definitions the
executable carries.

Each file is one compact line of 7-bit JSON without a byte-order mark or a
final line break, with the members in the order the definition editor writes
them. GUIDs are derived from fixed labels, so running the script again gives
the same files.

    python3 resources/tools/make_products.py
"""
import os
import uuid

CREATOR = "Zolva Definition Editor 2.4"
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(os.path.dirname(HERE), "products")
NAMESPACE = uuid.UUID("5d1c7f0e-3a9b-4e62-9c1f-6b2a8d4e7a10")

HKLM = "HKEY_LOCAL_MACHINE"
HKCR = "HKEY_CLASSES_ROOT"
HKCU = "HKEY_CURRENT_USER"
HKU = "HKEY_USERS"

UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
APP_PATHS = r"SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths"
RUN = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
CU_RUN = r"Software\Microsoft\Windows\CurrentVersion\Run"
SHARED_DLLS = r"SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs"
INSTALLER_PRODUCTS = r"SOFTWARE\Classes\Installer\Products"
INSTALLER_FEATURES = r"SOFTWARE\Classes\Installer\Features"
INSTALLER_UPGRADE = r"SOFTWARE\Classes\Installer\UpgradeCodes"
USERDATA_PRODUCTS = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products"
FILE_EXTS = r"Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts"
SERVICES = r"SYSTEM\CurrentControlSet\Services"
EVENTLOG = r"SYSTEM\CurrentControlSet\Services\Eventlog\Application"


def guid(label):
    return "{" + str(uuid.uuid5(NAMESPACE, label)).upper() + "}"


def packed(label):
    """The installer's compressed form of a GUID: the first three groups
    reversed, the remaining bytes with their two hex digits swapped."""
    g = guid(label)[1:-1].replace("-", "")
    head = g[0:8][::-1] + g[8:12][::-1] + g[12:16][::-1]
    tail = "".join(g[i + 1] + g[i] for i in range(16, 32, 2))
    return head + tail


def key(root, path):
    return (root, path, "", "CompleteKey")


def value(root, path, name):
    return (root, path, name, "NameOnly")


def detect(path):
    return (HKLM, path)


def msi(label):
    """The keys an installer package leaves for one product code."""
    return [
        key(HKLM, UNINSTALL + "\\" + guid(label)),
        key(HKLM, INSTALLER_PRODUCTS + "\\" + packed(label)),
        key(HKLM, INSTALLER_FEATURES + "\\" + packed(label)),
        key(HKLM, USERDATA_PRODUCTS + "\\" + packed(label)),
    ]


def com_class(label, progid=None):
    rules = [key(HKCR, "CLSID\\" + guid(label))]
    if progid:
        rules += [key(HKCR, progid), key(HKCR, progid + ".1")]
    return rules


def file_type(ext, progid):
    return [key(HKCR, ext), key(HKCR, progid), key(HKCU, FILE_EXTS + "\\" + ext)]


def office_suite():
    code = "office-suite-2010-product"
    detections = [
        detect(r"SOFTWARE\Zolva\Office Suite\14.0"),
        detect(UNINSTALL + "\\" + guid(code)),
        detect(INSTALLER_PRODUCTS + "\\" + packed(code)),
    ]
    removals = [key(HKLM, r"SOFTWARE\Zolva\Office Suite")]
    removals += msi(code)
    removals += [key(HKLM, INSTALLER_UPGRADE + "\\" + packed("office-suite-upgrade"))]
    for exe in ("ZolvaWrite.exe", "ZolvaCalc.exe", "ZolvaPresent.exe"):
        removals.append(key(HKLM, APP_PATHS + "\\" + exe))
    removals += [
        value(HKLM, RUN, "ZolvaOfficeQuickStart"),
        value(HKLM, SHARED_DLLS, r"C:\Program Files\Zolva\Office Suite\zocore14.dll"),
        value(HKLM, SHARED_DLLS, r"C:\Program Files\Zolva\Office Suite\zofilter14.dll"),
        value(HKLM, SHARED_DLLS, r"C:\Program Files\Common Files\Zolva\Spelling\zospell.dll"),
        key(HKLM, EVENTLOG + r"\Zolva Office"),
        key(HKLM, SERVICES + r"\ZolvaOfficeUpdate"),
    ]
    for ext, progid in ((".zwd", "Zolva.Write.Document.14"), (".zwt", "Zolva.Write.Template.14"),
                        (".zcs", "Zolva.Calc.Sheet.14"), (".zct", "Zolva.Calc.Template.14"),
                        (".zpr", "Zolva.Present.Show.14"), (".zpt", "Zolva.Present.Template.14")):
        removals += file_type(ext, progid)
    removals += com_class("office-write-document", "Zolva.Write.Application")
    removals += com_class("office-calc-sheet", "Zolva.Calc.Application")
    removals += com_class("office-present-show", "Zolva.Present.Application")
    removals += com_class("office-preview-handler")
    removals += com_class("office-thumbnail-provider")
    removals += com_class("office-mailmerge-addin")
    removals += [
        key(HKCR, "TypeLib\\" + guid("office-typelib")),
        key(HKCR, "Interface\\" + guid("office-iwritedocument")),
        key(HKCR, "Interface\\" + guid("office-icalcsheet")),
        key(HKCR, "Interface\\" + guid("office-ipresentshow")),
        key(HKCR, "AppID\\" + guid("office-appid")),
        key(HKCR, r"AppID\ZolvaOffice.exe"),
        key(HKCR, r"Directory\shellex\ContextMenuHandlers\ZolvaOffice"),
        key(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\PreviewHandlers" + "\\" +
            guid("office-preview-handler")),
        value(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved",
              guid("office-thumbnail-provider")),
        key(HKCU, r"Software\Zolva\Office Suite"),
        key(HKCU, r"Software\Microsoft\Office\Outlook\Addins\Zolva.Office.MailMerge"),
        value(HKCU, CU_RUN, "ZolvaOfficeUpdate"),
        key(HKCU, r"Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2"
                  r"\Programs\Zolva Office Suite"),
        key(HKU, r".DEFAULT\Software\Zolva\Office Suite"),
    ]
    return "Zolva Office Suite 2010", detections, removals


def pdf_writer():
    code = "pdf-writer-5-product"
    detections = [detect(r"SOFTWARE\Zolva\PDF Writer"), detect(UNINSTALL + "\\" + guid(code))]
    removals = [key(HKLM, r"SOFTWARE\Zolva\PDF Writer")]
    removals += msi(code)
    removals += [
        key(HKLM, r"SYSTEM\CurrentControlSet\Control\Print\Printers\Zolva PDF Writer"),
        key(HKLM, r"SYSTEM\CurrentControlSet\Control\Print\Monitors\Zolva PDF Port"),
        key(HKLM, r"SYSTEM\CurrentControlSet\Control\Print\Environments\Windows NT x86"
                  r"\Drivers\Version-3\Zolva PDF Writer"),
        key(HKLM, APP_PATHS + r"\ZolvaPdf.exe"),
        value(HKLM, RUN, "ZolvaPdfMonitor"),
        value(HKLM, SHARED_DLLS, r"C:\Program Files\Zolva\PDF Writer\zpdfcore.dll"),
    ]
    removals += file_type(".zpdfx", "Zolva.PdfWriter.Project")
    removals += com_class("pdf-writer-shell-extension", "Zolva.PdfWriter")
    removals += [
        key(HKCR, r"Directory\shellex\ContextMenuHandlers\ZolvaPdfWriter"),
        key(HKCR, "TypeLib\\" + guid("pdf-writer-typelib")),
        key(HKCU, r"Software\Zolva\PDF Writer"),
        value(HKCU, r"Software\Microsoft\Windows NT\CurrentVersion\Devices", "Zolva PDF Writer"),
    ]
    return "Zolva PDF Writer 5", detections, removals


def photo_studio():
    code = "photo-studio-8-product"
    detections = [detect(r"SOFTWARE\Zolva\Photo Studio\8.0"), detect(UNINSTALL + "\\" + guid(code))]
    removals = [key(HKLM, r"SOFTWARE\Zolva\Photo Studio")]
    removals += msi(code)
    removals += [
        key(HKLM, APP_PATHS + r"\ZolvaPhoto.exe"),
        key(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\AutoplayHandlers\Handlers"
                  r"\ZolvaPhotoImport"),
        value(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\AutoplayHandlers"
                    r"\EventHandlers\ShowPicturesOnArrival", "ZolvaPhotoImport"),
        value(HKLM, RUN, "ZolvaPhotoTray"),
    ]
    for ext, progid in ((".zph", "Zolva.PhotoStudio.Image.8"), (".zpalb", "Zolva.PhotoStudio.Album.8"),
                        (".zpbr", "Zolva.PhotoStudio.Brush.8")):
        removals += file_type(ext, progid)
    removals += com_class("photo-studio-thumbnails")
    removals += com_class("photo-studio-automation", "Zolva.PhotoStudio.Application")
    removals += [
        key(HKCR, "TypeLib\\" + guid("photo-studio-typelib")),
        key(HKCR, "Interface\\" + guid("photo-studio-iapplication")),
        key(HKCR, r"SystemFileAssociations\image\shell\ZolvaPhotoEdit"),
        key(HKCU, r"Software\Zolva\Photo Studio"),
        value(HKCU, CU_RUN, "ZolvaPhotoTray"),
    ]
    return "Zolva Photo Studio 8", detections, removals


def backup_manager():
    code = "backup-manager-3-product"
    detections = [detect(r"SOFTWARE\Zolva\Backup Manager")]
    removals = [key(HKLM, r"SOFTWARE\Zolva\Backup Manager")]
    removals += msi(code)
    removals += [
        key(HKLM, SERVICES + r"\ZolvaBackupService"),
        key(HKLM, EVENTLOG + r"\ZolvaBackupService"),
        key(HKLM, r"SOFTWARE\Microsoft\Windows NT\CurrentVersion\Schedule\TaskCache\Tree"
                  r"\Zolva Backup Manager"),
        value(HKLM, r"SYSTEM\CurrentControlSet\Control\BackupRestore\FilesNotToBackup",
              "ZolvaBackupCatalog"),
        value(HKLM, RUN, "ZolvaBackupAgent"),
        value(HKLM, SHARED_DLLS, r"C:\Program Files\Zolva\Backup Manager\zbkvss.dll"),
    ]
    removals += file_type(".zbk", "Zolva.Backup.Set.3")
    removals += com_class("backup-manager-shell-extension")
    removals += [
        key(HKCR, r"Drive\shellex\ContextMenuHandlers\ZolvaBackup"),
        key(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\MyComputer\NameSpace" + "\\" +
            guid("backup-manager-shell-extension")),
        key(HKCU, r"Software\Zolva\Backup Manager"),
    ]
    return "Zolva Backup Manager 3", detections, removals


def media_player():
    code = "media-player-12-product"
    detections = [detect(r"SOFTWARE\Zolva\Media Player"),
                  detect(r"SOFTWARE\Clients\Media\Zolva Media Player")]
    removals = [key(HKLM, r"SOFTWARE\Zolva\Media Player")]
    removals += msi(code)
    removals += [
        key(HKLM, r"SOFTWARE\Clients\Media\Zolva Media Player"),
        value(HKLM, r"SOFTWARE\RegisteredApplications", "Zolva Media Player"),
        key(HKLM, APP_PATHS + r"\ZolvaMedia.exe"),
        value(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\AutoplayHandlers"
                    r"\EventHandlers\PlayMusicFilesOnArrival", "ZolvaMediaPlay"),
    ]
    for ext, progid in ((".zmpl", "Zolva.MediaPlayer.Playlist"), (".zmsk", "Zolva.MediaPlayer.Skin")):
        removals += file_type(ext, progid)
    removals += com_class("media-player-control", "Zolva.MediaPlayer.Control")
    removals += [
        key(HKCR, "TypeLib\\" + guid("media-player-typelib")),
        key(HKCR, "Interface\\" + guid("media-player-icontrol")),
        key(HKCR, r"Applications\ZolvaMedia.exe"),
        key(HKCU, r"Software\Zolva\Media Player"),
    ]
    return "Zolva Media Player 12", detections, removals


def disk_cleaner():
    detections = [detect(r"SOFTWARE\Zolva\Disk Cleaner")]
    removals = [
        key(HKLM, r"SOFTWARE\Zolva\Disk Cleaner"),
        key(HKLM, UNINSTALL + r"\Zolva Disk Cleaner_is1"),
        key(HKLM, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\VolumeCaches"
                  r"\Zolva Temporary Files"),
        value(HKLM, RUN, "ZolvaDiskCleanerScheduler"),
        key(HKCU, r"Software\Zolva\Disk Cleaner"),
    ]
    return "Zolva Disk Cleaner", detections, removals


def mail_guard():
    code = "mail-guard-2-product"
    detections = [detect(r"SOFTWARE\Zolva\Mail Guard")]
    removals = [key(HKLM, r"SOFTWARE\Zolva\Mail Guard")]
    removals += msi(code)
    removals += [
        key(HKLM, SERVICES + r"\ZolvaMailGuard"),
        key(HKLM, EVENTLOG + r"\ZolvaMailGuard"),
        key(HKLM, r"SOFTWARE\Microsoft\Office\Outlook\Addins\Zolva.MailGuard.Addin"),
        value(HKLM, RUN, "ZolvaMailGuardTray"),
    ]
    removals += com_class("mail-guard-outlook-addin", "Zolva.MailGuard.Addin")
    removals += [
        key(HKCU, r"Software\Zolva\Mail Guard"),
        key(HKCU, r"Software\Microsoft\Office\Outlook\Addins\Zolva.MailGuard.Addin"),
        value(HKCU, CU_RUN, "ZolvaMailGuardTray"),
    ]
    return "Zolva Mail Guard 2", detections, removals


PRODUCTS = [office_suite, pdf_writer, photo_studio, backup_manager, media_player, disk_cleaner,
            mail_guard]


def js(text):
    assert all(0x20 <= ord(c) < 0x7F for c in text), text
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def document(name, detections, removals):
    det = ",".join('{"action":"KeyExist","key":%s,"value":"","root":%s,"name":""}'
                   % (js(path), js(root)) for root, path in detections)
    rem = ",".join('{"action":%s,"key":%s,"root":%s,"name":%s}'
                   % (js(action), js(path), js(root), js(value_name))
                   for root, path, value_name, action in removals)
    return '{"creator":%s,"detection":[%s],"version":1,"removal":[%s],"name":%s}' % (
        js(CREATOR), det, rem, js(name))


def main():
    total = 0
    for number, make in enumerate(PRODUCTS, start=1):
        name, detections, removals = make()
        assert 1 <= len(detections) <= 3 and 5 <= len(removals) <= 59, name
        total += len(detections) + len(removals)
        path = os.path.join(OUT, "ZolvaProduct%d.json" % number)
        with open(path, "wb") as f:
            f.write(document(name, detections, removals).encode("ascii"))
        print("%s: %d detection, %d removal rules" % (name, len(detections), len(removals)))
    print("%d rules in all" % total)


if __name__ == "__main__":
    main()
