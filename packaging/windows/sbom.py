#!/usr/bin/python3
"""sbom.py FOLDER ORIGINS QT_PREFIX VERSION > NAME.spdx.json

Writes the SPDX 2.3 bill of materials of the Windows program: every file of FOLDER (the
folder the zip holds, as shipped and signed) with its checksums, and each component with
its version, licence and package URL: Varnitt, every Debian source package that a shipped
file was built from (ORIGINS: deploy.sh's "PATH<TAB>SOURCE VERSION" lines), and each
library that Qt built into its DLLs (the headers and qt_attribution.json that build-qt.sh
kept from the source tree in QT_PREFIX/3rdparty). Everything is read from those files,
the Qt prefix and packaging/copyright; the time is SOURCE_DATE_EPOCH, so
every build of a commit writes the same bytes.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import time
from urllib.parse import quote

here = os.path.dirname(os.path.abspath(__file__))

# The parts of each Debian source package that ship, as its machine-readable (DEP-5)
# copyright file names them: the licence is read from the stanzas that cover them.
SHIPPED_PARTS = {
    "qtbase-opensource-src": ["*"],  # the Qt DLLs; the libraries of src/3rdparty are components
    "mingw-w64": ["mingw-w64-libraries/winpthreads/"],  # libwinpthread-1.dll
}
# Source packages whose copyright file is not machine-readable, with the licence it states
# for the parts that ship (the texts themselves are in the folder's licenses/).
TYPED_LICENCES = {
    "gcc-mingw-w64": "GPL-3.0-or-later WITH GCC-exception-3.1",
}
DEP5_FORMAT = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
SPDX_IDS = "/usr/share/nodejs/spdx-license-ids/index.json"

# Where a bundled library states its own version; qt_attribution.json, which can lag behind
# an update of the code, serves for the others.
VERSION_HEADERS = {
    "zlib": ("src/zlib.h", [r'#define ZLIB_VERSION "([0-9.]+)']),
    "libpng": ("png.h", [r'#define PNG_LIBPNG_VER_STRING "([^"]+)"']),
    "freetype": ("include/freetype/freetype.h",
                 [r"#define FREETYPE_MAJOR\s+(\d+)", r"#define FREETYPE_MINOR\s+(\d+)", r"#define FREETYPE_PATCH\s+(\d+)"]),
    "harfbuzz-ng": ("src/hb-version.h", [r'#define HB_VERSION_STRING "([^"]+)"']),
    "pcre2": ("src/pcre2.h", [r"#define PCRE2_MAJOR\s+(\d+)", r"#define PCRE2_MINOR\s+(\d+)"]),
}


def spdx_id(text):
    return re.sub(r"[^A-Za-z0-9.-]+", "-", text).strip("-")


def digests(path):
    sha1, sha256 = hashlib.sha1(), hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            sha1.update(block)
            sha256.update(block)
    return [{"algorithm": "SHA1", "checksumValue": sha1.hexdigest()},
            {"algorithm": "SHA256", "checksumValue": sha256.hexdigest()}]


def header_version(library_dir, name):
    if name not in VERSION_HEADERS:
        return None
    header, patterns = VERSION_HEADERS[name]
    with open(os.path.join(library_dir, header), encoding="utf-8", errors="replace") as f:
        text = f.read()
    parts = [re.search(p, text) for p in patterns]
    if not all(parts):
        sys.exit("sbom.py: no version in %s/%s" % (library_dir, header))
    return ".".join(m.group(1) for m in parts)


def licence_expression(ids):
    """Qt writes some expressions with lower-case operators; SPDX wants them upper-case."""
    ids = [re.sub(r" (and|or|with) ", lambda m: m.group(0).upper(), i) for i in ids]
    unique = list(dict.fromkeys(i for i in ids if i))
    if len(unique) == 1:
        return unique[0]
    return " AND ".join("(%s)" % i if " " in i else i for i in unique)


def bundled_libraries(qt_prefix):
    root = os.path.join(qt_prefix, "3rdparty")
    for name in sorted(os.listdir(root)):
        with open(os.path.join(root, name, "qt_attribution.json"), encoding="utf-8") as f:
            entries = json.loads(f.read(), strict=False)
        entries = entries if isinstance(entries, list) else [entries]
        first = entries[0]
        version = header_version(os.path.join(root, name), name) or first.get("Version")
        yield name, first["Name"], version, licence_expression([e.get("LicenseId", "") for e in entries])


def dep5_paragraphs(path):
    """The copyright file's paragraphs as dicts, or None when it is not DEP-5."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if not re.match(r"Format:\s*%s" % re.escape(DEP5_FORMAT.rstrip("/")), text):
        return None
    paragraphs = []
    for block in re.split(r"\n[ \t]*\n", text):
        fields, key = {}, None
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and key:
                fields[key] += "\n" + line[1:]
            elif ":" in line:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
        if fields:
            paragraphs.append(fields)
    return paragraphs


def spdx_name(name, known):
    """A DEP-5 short name as an SPDX licence (GPL-2+ is GPL-2.0-or-later, expat is MIT)."""
    m = re.fullmatch(r"(A?GPL|LGPL|GFDL)-(\d)(?:\.(\d))?(\+)?", name)
    if m:
        return "%s-%s.%s-%s" % (m[1], m[2], m[3] or "0", "or-later" if m[4] else "only")
    m = re.fullmatch(r"BSD-(\d)-clause", name, re.I)
    if m:
        return "BSD-%s-Clause" % m[1]
    if name.lower() == "expat":
        return "MIT"
    if name in known:
        return name
    return "LicenseRef-" + spdx_id(name)


def dep5_licence(paragraphs, parts, known, texts):
    """The licences of the stanzas covering the shipped parts, tests left out, as one expression."""
    standalone = {p["License"].split("\n")[0]: p["License"] for p in paragraphs
                  if "License" in p and "Files" not in p}
    expressions = []
    for p in paragraphs:
        patterns = p.get("Files", "").split()
        if not any(x in parts or any(part != "*" and x.startswith(part) and "/tests" not in x for part in parts)
                   for x in patterns):
            continue
        first, _, body = p["License"].partition("\n")
        words = re.split(r"\s+(or|and)\s+", first.strip())
        names = [spdx_name(w, known) if i % 2 == 0 else w.upper() for i, w in enumerate(words)]
        for word, ref in zip(words[::2], names[::2]):
            if ref.startswith("LicenseRef-") and ref not in texts:
                text = body or standalone.get(word, "").partition("\n")[2]
                texts[ref] = text.replace("\n.\n", "\n\n").strip() or (
                    "%s, as Debian's copyright file names it" % word)
        expressions.append(" ".join(names))
    unique = list(dict.fromkeys(expressions))
    if not unique:
        return None
    return unique[0] if len(unique) == 1 else " AND ".join("(%s)" % e if " " in e else e for e in unique)


def copyright_file(source, qt_prefix):
    """The Debian copyright file of SOURCE: Qt's from its source, the others' as installed."""
    if source == "qtbase-opensource-src":
        return os.path.join(qt_prefix, "licenses", "debian-copyright")
    listing = subprocess.run(["dpkg-query", "-W", "-f", "${source:Package} ${Package}\n"],
                             capture_output=True, text=True, check=True).stdout
    for line in sorted(listing.splitlines()):
        src, _, binary = line.partition(" ")
        path = "/usr/share/doc/%s/copyright" % binary
        if src == source and os.path.exists(path):
            return path
    return None


def debian_licences(sources, qt_prefix, texts):
    with open(SPDX_IDS, encoding="utf-8") as f:
        known = set(json.load(f))
    licences = {}
    for source in sources:
        path = copyright_file(source, qt_prefix)
        paragraphs = dep5_paragraphs(path) if path else None
        if paragraphs is not None and source in SHIPPED_PARTS:
            licences[source] = dep5_licence(paragraphs, SHIPPED_PARTS[source], known, texts)
        else:
            licences[source] = TYPED_LICENCES.get(source)
        if not licences[source]:
            sys.exit("sbom.py: no licence known for the Debian source package %s" % source)
    return licences


def deb_purl(package, version, distro):
    return "pkg:deb/debian/%s@%s?arch=source&distro=%s" % (package, quote(version, safe=""), distro)


def field(path, name):
    with open(path, encoding="utf-8") as f:
        m = re.search(r"^%s:[ \t]*(.*)$" % name, f.read(), re.M)
    return m.group(1).strip() if m else None


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    folder, origins_file, qt_prefix, version = sys.argv[1:]
    folder = os.path.abspath(folder)
    top = os.path.basename(folder)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    with open("/etc/os-release", encoding="utf-8") as f:
        host_release = re.search(r'^VERSION_CODENAME="?([^"\n]*)', f.read(), re.M).group(1)
    with open(os.path.join(qt_prefix, "qtbase-release"), encoding="utf-8") as f:
        qt_release = f.read().strip()

    origins = {}
    with open(origins_file, encoding="utf-8") as f:
        for line in f:
            path, _, source = line.rstrip("\n").partition("\t")
            origins[path] = source.split() if source and source != "-" else None

    copyright_file = os.path.join(here, "..", "copyright")
    own_licence = field(copyright_file, "License")
    with open(copyright_file, encoding="utf-8") as f:
        own_text = re.search(r"^License:.*\n((?: .*\n?)*)", f.read(), re.M).group(1)
    own_text = "\n".join("" if l.strip() == "." else l[1:] for l in own_text.splitlines())

    varnitt = "SPDXRef-Package-varnitt"
    packages = [{
        "SPDXID": varnitt, "name": "Varnitt", "versionInfo": version,
        "supplier": "Organization: The Varnitt developers", "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False, "licenseConcluded": own_licence, "licenseDeclared": own_licence,
        "copyrightText": field(copyright_file, "Copyright"),
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": "pkg:generic/varnitt@%s" % quote(version, safe="")}],
    }]
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": varnitt}]
    debian_ids = {}
    extracted = {}
    sources = sorted({tuple(o) for o in origins.values() if o})
    licences = debian_licences(sorted({s for s, _ in sources}), qt_prefix, extracted)
    for source, source_version in sources:
        ident = "SPDXRef-Package-" + spdx_id(source)
        debian_ids[source] = ident
        distro = qt_release if source == "qtbase-opensource-src" else host_release
        packages.append({
            "SPDXID": ident, "name": source, "versionInfo": source_version,
            "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": licences[source], "licenseDeclared": licences[source],
            "copyrightText": "NOASSERTION",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": deb_purl(source, source_version, distro)}],
        })
        relationships.append({"spdxElementId": varnitt, "relationshipType": "DEPENDS_ON",
                              "relatedSpdxElement": ident})
    qtbase = debian_ids.get("qtbase-opensource-src")
    if not qtbase:
        sys.exit("sbom.py: no shipped file comes from qtbase-opensource-src")
    for directory, name, lib_version, licence in bundled_libraries(qt_prefix):
        ident = "SPDXRef-Package-qtbase-" + spdx_id(directory)
        package = {
            "SPDXID": ident, "name": name, "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": licence or "NOASSERTION", "licenseDeclared": licence or "NOASSERTION",
            "copyrightText": "NOASSERTION",
            "comment": "Built into the Qt DLLs from src/3rdparty/%s of qtbase-opensource-src." % directory,
        }
        if lib_version:
            package["versionInfo"] = lib_version
            package["externalRefs"] = [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                                        "referenceLocator": "pkg:generic/%s@%s" % (
                                            quote(directory.lower(), safe=""), quote(lib_version, safe=""))}]
        packages.append(package)
        relationships.append({"spdxElementId": qtbase, "relationshipType": "CONTAINS",
                              "relatedSpdxElement": ident})

    shipped = sorted((os.path.relpath(os.path.join(d, f), folder), os.path.join(d, f))
                     for d, _, names in os.walk(folder) for f in names)
    files = []
    namespace = hashlib.sha256()
    for relative, path in shipped:
        ident = "SPDXRef-File-" + spdx_id(relative)
        checksums = digests(path)
        namespace.update(("%s %s\n" % (relative, checksums[1]["checksumValue"])).encode())
        origin = origins.get(relative)
        files.append({"SPDXID": ident, "fileName": "./%s/%s" % (top, relative), "checksums": checksums,
                      "licenseConcluded": licences[origin[0]] if origin
                      else own_licence if relative.endswith(".exe") else "NOASSERTION",
                      "copyrightText": "NOASSERTION"})
        relationships.append({"spdxElementId": varnitt, "relationshipType": "CONTAINS",
                              "relatedSpdxElement": ident})
        if origin:
            relationships.append({"spdxElementId": ident, "relationshipType": "GENERATED_FROM",
                                  "relatedSpdxElement": debian_ids[origin[0]]})

    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": "%s-%s-windows-x64" % ("varnitt", version),
        "documentNamespace": "https://spdx.org/spdxdocs/varnitt-%s-windows-x64-%s" % (
            quote(version, safe=""), namespace.hexdigest()),
        "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
                         "creators": ["Tool: varnitt packaging/windows/sbom.py"],
                         "comment": "Licences of Debian packages are read from their machine-readable "
                                    "copyright files (%s); the others' (%s) come from a table in sbom.py, "
                                    "since their copyright files are not machine-readable." % (
                                        ", ".join(s for s in licences if s not in TYPED_LICENCES) or "none",
                                        ", ".join(s for s in licences if s in TYPED_LICENCES) or "none")},
        "packages": packages,
        "files": files,
        "relationships": relationships,
    }
    if own_licence.startswith("LicenseRef-"):
        extracted[own_licence] = own_text
    if extracted:
        document["hasExtractedLicensingInfos"] = [{"licenseId": ref, "extractedText": text,
                                                   "name": ref[len("LicenseRef-"):]}
                                                  for ref, text in sorted(extracted.items())]
    json.dump(document, sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
