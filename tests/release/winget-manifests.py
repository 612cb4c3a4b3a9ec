#!/usr/bin/env python3
"""The build's winget manifests against the published schemas, the files they name and the exit
codes the setup and the uninstaller answer: winget-manifests.py <source folder> <build folder>"""
import hashlib, json, pathlib, re, sys
import jsonschema, yaml

source, build = (pathlib.Path(p) for p in sys.argv[1:3])
schemas = source / "tests/release/winget-schemas"
manifests = build / "winget"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


read = {}  # each manifest by its kind
for kind, name in (("version", ""), ("defaultLocale", ".locale.zh-CN"), ("installer", ".installer")):
    path = manifests / f"QingshiStudio.Velmarin{name}.yaml"
    manifest = yaml.safe_load(path.read_text(encoding="utf-8"))
    schema = json.loads((schemas / f"manifest.{kind}.1.10.0.schema.json").read_text(encoding="utf-8"))
    for error in jsonschema.Draft7Validator(schema).iter_errors(manifest):
        failures.append(f"{path.name}: {'/'.join(map(str, error.path))}: {error.message}")
    check(manifest.get("ManifestType") == kind, f"{path.name} is no {kind} manifest")
    read[kind] = manifest
check(len({(m["PackageIdentifier"], m["PackageVersion"]) for m in read.values()}) == 1,
      "the three manifests name different packages or versions")

installers = {i["InstallerType"]: i for i in read["installer"]["Installers"]}
for kind, file in (("exe", "VelmarinSetup.exe"), ("msi", "VelmarinSetup.msi")):
    installer = installers.get(kind, {})
    digest = hashlib.sha256((build / file).read_bytes()).hexdigest().upper()
    check(installer.get("InstallerSha256", "").upper() == digest, f"{file}: InstallerSha256 is not the file's")
    check(installer.get("InstallerUrl", "").endswith("/" + file), f"{file}: InstallerUrl names another file")

# The codes of the programs' own table, and of the README's: every one but success and the
# interactive page's cancel is in the manifest, with the answer deployment tools expect.
outcomes = {int(code) for code in re.findall(r"^\s*kOutcome\w+ = (\d+),", (source / "app/Outcomes.h").read_text(), re.M)}
readme = (source / "README.md").read_text(encoding="utf-8")
table = readme[readme.index("| Code | Setup | Uninstaller |"):]
table = table[:table.index("\n\n")]
documented = {int(code) for code in re.findall(r"^\| (\d+) \|", table, re.M)}
expected = installers["exe"].get("ExpectedReturnCodes", [])
answers = {entry["InstallerReturnCode"]: entry["ReturnResponse"] for entry in expected}
check(len(outcomes) > 10, "no exit codes read from app/Outcomes.h")
check(documented == outcomes - {1602}, f"README's codes {sorted(documented ^ (outcomes - {1602}))} are not the setup's")
check(set(answers) == outcomes - {0, 1602}, f"the manifest's codes differ from the setup's in {sorted(set(answers) ^ (outcomes - {0, 1602}))}")
check(len(answers) == len(expected), "a code is in the manifest twice")
for code, answer in {1618: "installInProgress", 32: "packageInUse", 112: "diskFull", 87: "invalidParameter",
                     3010: "rebootRequiredToFinish", 1920: "fileInUse"}.items():
    check(answers.get(code) == answer, f"{code} answers {answers.get(code)}, not {answer}")

msi = installers.get("msi", {})
entries = msi.get("AppsAndFeaturesEntries", [{}])
check(msi.get("ProductCode") == entries[0].get("ProductCode"), "the package's ProductCode differs in its entry")
check(entries[0].get("UpgradeCode") == "{5C3F0A9E-7D41-4B86-9E2A-3F6B1C8D4E27}", "the package's UpgradeCode is not its own")

for failure in failures:
    print("FAIL:", failure)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
