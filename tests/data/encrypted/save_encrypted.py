# Saves a spreadsheet encrypted, as LibreOffice's save dialog does with a password: the
# "MS Excel 97" filter writes RC4 (MS-OFFCRYPTO 2.3.6), the "Calc MS Excel 2007 XML" filter
# Standard encryption (LibreOffice 7.4 fails to write Agile). Run with Debian's python3 and
# python3-uno:
#   /usr/bin/python3 save_encrypted.py SRC DST FILTER PASSWORD [Standard|Agile]
import hashlib, os, subprocess, sys, tempfile, time, uno
from com.sun.star.beans import PropertyValue, NamedValue

def prop(name, value):
    p = PropertyValue(); p.Name = name; p.Value = value; return p

def named(name, value):
    n = NamedValue(); n.Name = name; n.Value = value; return n

def main():
    src, dst, filt, password = sys.argv[1:5]
    crypto = sys.argv[5] if len(sys.argv) > 5 else "Standard"
    if filt == "MS Excel 97":
        salt = os.urandom(16)
        h0 = hashlib.md5(password.encode("utf-16-le")).digest()
        key = hashlib.md5((h0[:5] + salt) * 16).digest()
        data = (named("STD97EncryptionKey", uno.ByteSequence(key)),
                named("STD97UniqueID", uno.ByteSequence(salt)))
    else:
        data = (named("OOXPassword", password), named("CryptoType", crypto))
    enc = uno.Any("[]com.sun.star.beans.NamedValue", data)
    profile = uno.systemPathToFileUrl(tempfile.mkdtemp())
    proc = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore",
                             "-env:UserInstallation=" + profile,
                             "--accept=pipe,name=cellverter-encrypt;urp;"], stderr=subprocess.DEVNULL)
    try:
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local)
        for _ in range(120):
            try:
                ctx = resolver.resolve("uno:pipe,name=cellverter-encrypt;urp;StarOffice.ComponentContext")
                break
            except Exception:
                time.sleep(0.5)
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(src)),
                                           "_blank", 0, (prop("Hidden", True),))
        args = (prop("FilterName", filt), prop("EncryptionData", enc))
        uno.invoke(doc, "storeToURL", (uno.systemPathToFileUrl(os.path.abspath(dst)), args))
        doc.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass
    finally:
        proc.wait(timeout=60)

main()
