// Preset file names inside the preset library, and the grouping of the preset list for the browser.

// The name in lower case, every run of characters other than a-z and 0-9 made one "-", no "-" at
// either end; "untitled" when nothing remains.
export function presetSlug(name) {
  const slug = String(name ?? '').toLowerCase().replace(/[^a-z0-9]+/g, '-').replace(/^-+|-+$/g, '');
  return slug || 'untitled';
}

// The folder for a chosen category: slash runs become a space, leading dots go, trimmed; "User" or
// nothing means no folder.
export function presetFolder(category) {
  const folder = String(category ?? '').replace(/[/\\]+/g, ' ').replace(/^\.+/, '').trim();
  return folder === '' || folder === 'User' ? '' : folder;
}

// Library path of a new preset file.
export function newPresetPath(name, category) {
  const folder = presetFolder(category);
  return `User/${folder ? `${folder}/` : ''}${presetSlug(name)}.nobrel`;
}

export const exportFileName = (name) => `${presetSlug(name)}.nobrel`;

const collator = new Intl.Collator(undefined, { sensitivity: 'base', numeric: true });

// The list entries grouped for display: factory presets first, then user presets; inside each section
// categories in ascending order ("Uncategorized" when absent), names in locale order ignoring case and
// accents, digit runs compared as numbers.
export function groupPresetList(entries) {
  const sections = [];
  for (const section of ['Factory', 'User']) {
    const categories = new Map();
    for (const e of entries) {
      const isFactory = e.section ? e.section === 'Factory' : e.isFactory === true;
      if (isFactory !== (section === 'Factory')) continue;
      const category = typeof e.category === 'string' && e.category !== '' ? e.category : 'Uncategorized';
      if (!categories.has(category)) categories.set(category, []);
      categories.get(category).push(e);
    }
    const sorted = [...categories.keys()].sort((a, b) => (a < b ? -1 : a > b ? 1 : 0));
    const groups = sorted.map((category) => ({
      category, presets: categories.get(category).sort((a, b) => collator.compare(String(a.name), String(b.name))),
    }));
    if (groups.length > 0) sections.push({ section, groups });
  }
  return sections;
}

// Preset list entries from the native answer (an array or its JSON text); bad entries dropped.
export function readPresetList(value) {
  let list = value;
  if (typeof value === 'string') {
    try { list = JSON.parse(value); } catch { return null; }
  }
  if (!Array.isArray(list)) return null;
  return list.filter((e) => e && typeof e === 'object' && typeof e.name === 'string' && typeof e.path === 'string');
}
