#!/usr/bin/env python3
"""Lists function declarations and definitions with more than six parameters
in the engine libraries (or the folders given). Exits 1 when there are any."""
import re, sys, pathlib
limit = 6
folders = sys.argv[1:] or ["fusion", "correction", "geometry"]
def strip(src):
    src = re.sub(r'//[^\n]*', '', src)
    src = re.sub(r'/\*.*?\*/', '', src, flags=re.S)
    src = re.sub(r'"(?:\\.|[^"\\])*"', '""', src)
    return src
hits = []
for f in folders:
    for p in sorted(pathlib.Path(f).rglob('*')):
        if p.suffix not in ('.h', '.cpp'): continue
        s = strip(p.read_text())
        # name( ... ) followed by { or ; or const/override/noexcept ; -- parameter lists at depth 0
        for m in re.finditer(r'\b([A-Za-z_][\w:~]*)\s*\(', s):
            name = m.group(1)
            if name in ('if','for','while','switch','return','sizeof','catch','static_assert','decltype','alignof'): continue
            i = m.end(); depth = 1; j = i
            while j < len(s) and depth:
                c = s[j]
                if c in '([{': depth += 1
                elif c in ')]}': depth -= 1
                j += 1
            inner = s[i:j-1]
            rest = s[j:j+80].lstrip()
            if not re.match(r'(const\b|noexcept\b|override\b|->|\{|;|=\s*(default|delete|0))', rest): continue
            # split on top-level commas (ignore <> nesting)
            parts=[]; d=0; cur=''
            for c in inner:
                if c in '(<[{': d+=1
                elif c in ')>]}': d-=1
                if c==',' and d==0: parts.append(cur); cur=''
                else: cur+=c
            if cur.strip(): parts.append(cur)
            # a declaration's parameters have a type and a name (at least two tokens) — skip calls
            if not parts or not all(re.search(r'[\w&*>]\s+[&*]*\w+\s*(=.*)?$', x.strip(), re.S) or x.strip()=='void' for x in parts): continue
            if len(parts) > limit:
                line = s[:m.start()].count('\n') + 1
                hits.append(f"{p}:{line}: {name} ({len(parts)} parameters)")
for h in hits: print(h)
print(f"{len(hits)} signatures with more than {limit} parameters")
sys.exit(1 if hits else 0)
