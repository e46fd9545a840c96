#!/usr/bin/env python3
"""Compares the MIB reader with libsmi's smidump and net-snmp's snmptranslate on a corpus of real
modules, object by object: OID, name, base syntax, access, INDEX (in order, IMPLIED), AUGMENTS,
ranges, sizes and enumeration labels.

    corpus_compare.py DUMP_PROGRAM FOLDER[:FOLDER...]

Every module that smidump reads without an error of severity 0 or 1 must load and agree. Exits 0
when all agree, 1 with the disagreements on standard output, 77 when a peer is missing.
"""
import ast
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Where a peer is wrong, checked against the module's text: (module, name, key) -> why.
PEER_FAULTS = {
    ("SYSAPPL-MIB", "sysApplPastRunMaxRows", "ranges"):
        "smidump misreads the bound 'ffffffff'h",
    ("FLOW-METER-MIB", "flowDataStatus", "labels"):
        "snmptranslate drops the label current(2), a keyword elsewhere",
    ("RFC1285-MIB", "snmpFddiSMTHoldState", "labels"):
        "snmptranslate drops not-implemented(1), the first of the labels",
}
SYNTAX_OF_NAME = {
    "Counter32": 65, "Counter": 65, "Gauge32": 66, "Gauge": 66, "Unsigned32": 66,
    "TimeTicks": 67, "IpAddress": 64, "NetworkAddress": 64, "Opaque": 68, "Counter64": 70,
    "NsapAddress": 69, "Integer32": 2,
}
SYNTAX_OF_BASETYPE = {
    "Integer32": 2, "Enumeration": 2, "OctetString": 4, "Bits": 4, "ObjectIdentifier": 6,
    "Unsigned32": 66, "Unsigned64": 70,
}
ACCESS = {
    "noaccess": "not-accessible", "notifyonly": "accessible-for-notify",
    "readonly": "read-only", "readwrite": "read-write", "readcreate": "read-create",
    "writeonly": "write-only",
}
# snmptranslate -Tp's type words, as base syntax codes.
SYNTAX_OF_TREE_WORD = {
    "Integer32": 2, "INTEGER": 2, "EnumVal": 2, "String": 4, "BitString": 4, "OctetStr": 4,
    "ObjID": 6, "IpAddr": 64, "NetAddr": 64, "Counter": 65, "Gauge": 66, "Unsigned": 66,
    "UInteger32": 66, "TimeTicks": 67, "Opaque": 68, "Nsap": 69, "Counter64": 70,
}
TREE_ACCESS = {
    "---N": "accessible-for-notify", "-R--": "read-only", "-RW-": "read-write", "CR--": "read-create", "CRW-": "read-create",
    "--W-": "write-only", "----": "not-accessible", "-RN-": "accessible-for-notify",
}


def smidump(module, env):
    """The module as smidump reads it, and whether it read it without a severe error."""
    run = subprocess.run(["smidump", "-l", "1", "-s", "-q", "-f", "python", module],
                         capture_output=True, text=True, env=env)
    if "MIB = " not in run.stdout:
        return module, None, False
    accepted = run.returncode == 0 and not run.stderr.strip()
    # smidump writes a UNITS text that spans lines as a one-line literal; nothing here needs it.
    text = re.sub(r'"units" : "[^"]*",', "", run.stdout.split("MIB = ", 1)[1])
    try:
        return module, ast.literal_eval(text), accepted
    except (SyntaxError, ValueError):
        return module, None, False


class Types:
    """Every module's typedefs, to follow a syntax to its base and its effective constraints."""

    def __init__(self, mibs):
        self.defs = {}
        for module, mib in mibs.items():
            for name, typedef in mib.get("typedefs", {}).items():
                self.defs[(module, name)] = typedef

    def chain(self, syntax):
        """The type and its ancestors, nearest first, as (name or None, dict)."""
        seen = 0
        ref = syntax.get("type", syntax)
        while ref is not None and seen < 32:
            seen += 1
            if "basetype" in ref:
                yield None, ref
                parent = ref.get("parent module")
                ref = {"module": parent["name"], "name": parent["type"]} if parent else None
                continue
            name = ref.get("name")
            yield name, self.defs.get((ref.get("module"), name), {})
            typedef = self.defs.get((ref.get("module"), name))
            if typedef is None:
                if ref.get("module"):
                    yield "", None  # defined by a module that smidump does not dump
                return
            parent = typedef.get("parent module")
            ref = {"module": parent["name"], "name": parent["type"]} if parent else None

    def describe(self, syntax):
        code, ranges, labels, basetype = 0, None, None, None
        for name, body in self.chain(syntax):
            if body is None:
                return None
            if not code and name in SYNTAX_OF_NAME:
                code = SYNTAX_OF_NAME[name]
            if basetype is None and name in SYNTAX_OF_BASETYPE:
                basetype = name
            if basetype is None and body.get("basetype"):
                basetype = body["basetype"]
            if ranges is None and body.get("ranges"):
                ranges = [(r["min"], r["max"]) for r in body["ranges"]]
            named = {k: v["number"] for k, v in body.items()
                     if isinstance(v, dict) and v.get("nodetype") == "namednumber"}
            if labels is None and named:
                labels = named
        if not code:
            code = SYNTAX_OF_BASETYPE.get(basetype, 0)
        sizes = None
        if basetype in ("OctetString", "Bits") or code in (4, 64, 68, 69):
            ranges, sizes = None, ranges
        return code, ranges, sizes, labels


def ranges_text(ranges):
    if not ranges:
        return "-"
    parts = []
    for low, high in ranges:
        parts.append(low if low == high else low + ".." + high)
    return canonical_ranges("|".join(parts))


def canonical_ranges(text):
    """(0..1 | 2 | 5) and (0..2 | 5) allow the same values: compared as sorted, merged runs."""
    if text == "-":
        return text
    runs = []
    for part in text.split("|"):
        low, _, high = part.partition("..")
        runs.append([low, high or low])
    if all(re.fullmatch(r"-?\d+", bound) for run in runs for bound in run):
        numbers = sorted([int(low), int(high)] for low, high in runs)
        merged = []
        for low, high in numbers:
            if merged and low <= merged[-1][1] + 1:
                merged[-1][1] = max(merged[-1][1], high)
            else:
                merged.append([low, high])
        runs = [[str(low), str(high)] for low, high in merged]
    return "|".join(low if low == high else low + ".." + high for low, high in runs)


def labels_text(labels):
    if not labels:
        return "-"
    return ",".join("%s(%s)" % (k, labels[k]) for k in sorted(labels))


def ours_normalized(line):
    (module, name, oid, kind, syntax, access, implied, index, augments, ranges, sizes,
     labels) = line.split("\t")

    return module, name, dict(oid=oid, kind=kind, syntax=int(syntax), access=access,
                              implied=implied, index=index, augments=augments,
                              ranges=canonical_ranges(ranges), sizes=canonical_ranges(sizes),
                              labels=labels)


def peer_objects(module, mib, types):
    objects = {}
    creating = {node["oid"] for node in mib.get("nodes", {}).values()
                if node.get("nodetype") == "row" and node.get("create") == "true"}
    for name, node in mib.get("nodes", {}).items():
        if node.get("moduleName") != module:
            continue
        entry = dict(oid=node["oid"], kind=node["nodetype"])
        if node["nodetype"] in ("scalar", "column"):
            described = types.describe(node["syntax"])
            if described is None:
                objects[name] = entry
                continue
            code, ranges, sizes, labels = described
            access = ACCESS.get(node.get("access"), node.get("access"))
            # libsmi keeps read-create as read-write, and marks the row as one that creates.
            if access == "read-write" and node["oid"].rsplit(".", 1)[0] in creating:
                access = ("read-write", "read-create")
            entry.update(syntax=code, access=access,
                         ranges=ranges_text(ranges), sizes=ranges_text(sizes),
                         labels=labels_text(labels))
        if node["nodetype"] == "row":
            linkage = node.get("linkage", [])
            augments = [v["relatedNode"] for item in linkage if isinstance(item, dict)
                        for v in item.values() if v.get("indexkind") == "augments"]
            index = [item for item in linkage if isinstance(item, str)]
            entry["augments"] = augments[0] if augments else "-"
            if not augments:
                entry["index"] = ",".join(index) if index else "-"
                entry["implied"] = "implied" if node.get("implied") == "true" else "-"
        objects[name] = entry
    for section in ("notifications", "groups", "compliances"):
        for name, node in mib.get(section, {}).items():
            if node.get("moduleName", module) == module and "oid" in node:
                objects[name] = dict(oid=node["oid"])
    return objects


def parse_tree(text):
    """snmptranslate -Tp: OID -> (name, syntax, access, ranges, sizes, labels, index)."""
    nodes = {}
    path = []  # (depth, oid)
    current = None
    line_re = re.compile(r"^([ |]*)\+--(?: (\S{4}) (\S+)\s+)?([^( ]+)\((\d+)\)")
    for line in text.splitlines():
        m = line_re.match(line)
        if m:
            depth = len(m.group(1))
            while path and path[-1][0] >= depth:
                path.pop()
            oid = (path[-1][1] + "." if path else "") + m.group(5)
            path.append((depth, oid))
            current = dict(name=m.group(4), access=TREE_ACCESS.get(m.group(2)),
                           syntax=SYNTAX_OF_TREE_WORD.get(m.group(3)), word=m.group(3))
            nodes[oid] = current
            continue
        if current is None:
            continue
        detail = line.strip(" |")
        for key in ("Range", "Size", "Values", "Index", "Augments"):
            if detail.startswith(key + ": "):
                current[key.lower()] = detail[len(key) + 2:]
    # The tree starts below iso: its root lines carry no "+--" of their own.
    return {"1." + oid if not oid.startswith("1.") else oid: node for oid, node in nodes.items()}


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    dump, folders = sys.argv[1], sys.argv[2]
    for peer in ("smidump", "snmptranslate"):
        if not shutil.which(peer):
            print("skipped: %s is not installed" % peer)
            return 77
    modules = []
    for folder in folders.split(":"):
        if not os.path.isdir(folder):
            print("skipped: no folder %s" % folder)
            return 77
        for name in sorted(os.listdir(folder)):
            name = re.sub(r"\.(txt|mib|my)$", "", name)
            if name not in modules and not name.startswith(".") and name != "README":
                modules.append(name)
    env = dict(os.environ, SMIPATH=folders)
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        dumped = list(pool.map(lambda m: smidump(m, env), modules))
    # A module smidump refuses still lends its types to those that import it.
    types = Types({m: mib for m, mib, _ in dumped if mib})
    mibs = {m: mib for m, mib, accepted in dumped if mib and accepted}

    run = subprocess.run([dump, folders] + modules, capture_output=True, text=True)
    ours = {}
    failed = {}
    for line in run.stdout.splitlines():
        if line.startswith("FAILED "):
            module, reason = line[len("FAILED "):].split(": ", 1)
            failed[module] = reason
            continue
        module, name, entry = ours_normalized(line)
        ours.setdefault(module, {})[name] = entry

    problems = []
    compared = 0
    for module, mib in sorted(mibs.items()):
        if module in failed:
            problems.append("%s: smidump loads it, the reader refuses it: %s" %
                            (module, failed[module]))
            continue
        mine = ours.get(module, {})
        for name, peer in sorted(peer_objects(module, mib, types).items()):
            if name not in mine:
                problems.append("%s::%s: smidump has it at %s, the reader does not" %
                                (module, name, peer["oid"]))
                continue
            compared += 1
            for key, value in peer.items():
                if key == "kind" and value not in ("scalar", "table", "row", "column"):
                    continue
                allowed = value if isinstance(value, tuple) else (value,)
                if mine[name].get(key) not in allowed and (module, name, key) not in PEER_FAULTS:
                    problems.append("%s::%s %s: smidump %r, reader %r" %
                                    (module, name, key, value, mine[name].get(key)))

    with tempfile.TemporaryDirectory() as home:
        tree = subprocess.run(["snmptranslate", "-Tp", "-m", "ALL", "-M", folders],
                              capture_output=True, text=True,
                              env=dict(os.environ, HOME=home, MIBS="", MIBDIRS="",
                                       SNMPCONFPATH=home, SNMP_PERSISTENT_DIR=home))
    nodes = parse_tree(tree.stdout)
    # net-snmp keeps one definition of a name and OID that several modules give (RFC1213-MIB and
    # IP-MIB both define ipForwarding): those are not compared with it.
    definers = {}
    for module, objects in ours.items():
        for name, mine in objects.items():
            definers.setdefault((name, mine["oid"]), set()).add(module)
    translated = 0
    for module in sorted(mibs):
        for name, mine in sorted(ours.get(module, {}).items()):
            node = nodes.get(mine["oid"])
            if not node or node["name"] != name or mine["kind"] not in ("scalar", "column"):
                continue
            if len(definers[(name, mine["oid"])]) > 1:
                continue
            translated += 1
            peer_labels = "-"
            if node.get("values"):
                pairs = re.findall(r"([\w-]+)\((-?\d+)\)", node["values"])
                peer_labels = ",".join("%s(%s)" % p for p in sorted(pairs))
            checks = [("access", node["access"], mine["access"]),
                      ("labels", peer_labels, mine["labels"])]
            if node["syntax"] is not None:
                checks.append(("syntax", node["syntax"], mine["syntax"]))
            for key, peer, value in checks:
                if peer != value and (module, name, key) not in PEER_FAULTS:
                    problems.append("%s::%s %s: snmptranslate %r, reader %r" %
                                    (module, name, key, peer, value))

    for problem in problems:
        print(problem)
    print("%d modules loaded by smidump, %d objects compared with smidump, %d with snmptranslate,"
          " %d disagreements" % (len(mibs), compared, translated, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
