#!/usr/bin/python3
"""check_sbom.py ZIP SPDX_JSON: the bill of materials is valid SPDX 2.3 JSON (the fields
SPDX requires, unique and well-formed identifiers, relationships between known elements,
licence expressions that Debian's spdx-expression-parse accepts), names every component
the Windows program is made of with a version, and lists exactly the zip's files with
their checksums. Exit 0 pass, 1 fail."""
import hashlib
import json
import os
import re
import subprocess
import sys
import zipfile
from urllib.parse import quote

failures = []


def check(what, ok):
    print("%s: %s" % ("PASS" if ok else "FAIL", what))
    if not ok:
        failures.append(what)
    return ok


def main():
    zip_path, spdx_path = sys.argv[1:3]
    with open(spdx_path, encoding="utf-8") as f:
        doc = json.load(f)

    check("SPDX 2.3, CC0-1.0, SPDXRef-DOCUMENT",
          (doc.get("spdxVersion"), doc.get("dataLicense"), doc.get("SPDXID")) == ("SPDX-2.3", "CC0-1.0", "SPDXRef-DOCUMENT"))
    check("name, an absolute documentNamespace without '#'", bool(doc.get("name"))
          and re.match(r"^[a-z][a-z0-9+.-]*://[^#\s]+$", doc.get("documentNamespace", "")) is not None)
    info = doc.get("creationInfo", {})
    check("creationInfo: created in UTC and a creator", re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", info.get("created", ""))
          is not None and bool(info.get("creators")))

    packages, files = doc.get("packages", []), doc.get("files", [])
    ids = ["SPDXRef-DOCUMENT"] + [e.get("SPDXID", "") for e in packages + files]
    check("identifiers unique", len(ids) == len(set(ids)))
    bad = [i for i in ids if not re.match(r"^SPDXRef-[A-Za-z0-9.-]+$", i)]
    check("identifiers well-formed %s" % bad, not bad)
    missing = [p.get("SPDXID") for p in packages
               if not all(k in p for k in ("name", "SPDXID", "downloadLocation", "licenseConcluded", "copyrightText"))
               or p.get("filesAnalyzed") is not False]
    check("every package has the required fields %s" % missing, not missing)
    relations = doc.get("relationships", [])
    dangling = [r for r in relations if r.get("spdxElementId") not in ids or r.get("relatedSpdxElement") not in ids]
    check("relationships name known elements (%d)" % len(relations), relations and not dangling)
    check("the document describes a package", any(
        r.get("spdxElementId") == "SPDXRef-DOCUMENT" and r.get("relationshipType") == "DESCRIBES" for r in relations))

    expressions = sorted({e[k] for e in packages + files for k in ("licenseConcluded", "licenseDeclared")
                          if k in e and e[k] not in ("NOASSERTION", "NONE")})
    declared = {i.get("licenseId") for i in doc.get("hasExtractedLicensingInfos", []) if i.get("extractedText")}
    refs = sorted({r for e in expressions for r in re.findall(r"LicenseRef-[A-Za-z0-9.-]+", e)} - declared)
    check("every LicenseRef has its text %s" % refs, not refs)
    # Debian installs node modules in /usr/share/nodejs.
    parse = subprocess.run(["node", "-e", """
        const parse = require('spdx-expression-parse');
        let bad = [];
        for (const e of JSON.parse(process.argv[1]))
            try { parse(e.replace(/LicenseRef-[A-Za-z0-9.-]+/g, 'LicenseRef-x')); } catch (x) { bad.push(e); }
        console.log(JSON.stringify(bad));""", json.dumps(expressions)], capture_output=True, text=True,
                           env=dict(os.environ, NODE_PATH="/usr/share/nodejs"))
    check("licence expressions are SPDX %s" % (parse.stdout.strip() or parse.stderr.strip()),
          parse.returncode == 0 and parse.stdout.strip() == "[]")

    # The components, each with a version and a package URL that names it.
    for wanted in ("varnitt", "qtbase-opensource-src", "zlib", "libpng", "freetype", "harfbuzz-ng", "pcre2",
                   "double-conversion", "md4c", "gcc-mingw-w64", "mingw-w64"):
        found = [p for p in packages if p.get("versionInfo") and any(
            r.get("referenceType") == "purl" and "/%s@%s" % (wanted, quote(p["versionInfo"], safe="")) in
            r.get("referenceLocator", "") for r in p.get("externalRefs", []))]
        check("component %s: %s" % (wanted, ", ".join("%s %s" % (p["name"], p["versionInfo"]) for p in found)),
              len(found) == 1)

    # Exactly the zip's files, with their checksums.
    listed = {}
    for f in files:
        sums = {c["algorithm"]: c["checksumValue"] for c in f.get("checksums", [])}
        listed[f.get("fileName", "").removeprefix("./")] = sums
    with zipfile.ZipFile(zip_path) as z:
        shipped = {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
    check("the file list is the zip's (%d files; only in the list: %s; only in the zip: %s)" % (
        len(shipped), sorted(set(listed) - set(shipped)), sorted(set(shipped) - set(listed))),
        set(listed) == set(shipped))
    wrong = [n for n, data in shipped.items() if n in listed and listed[n] != {
        "SHA1": hashlib.sha1(data).hexdigest(), "SHA256": hashlib.sha256(data).hexdigest()}]
    check("every file's SHA1 and SHA256 match the zip %s" % wrong, not wrong)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
