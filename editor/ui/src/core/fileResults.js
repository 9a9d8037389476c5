// The native side's answers to the file operations the page asks for (mlibFileResult), and what the page
// shows of them: a failure in words, with the reason the system gave, and a success only once it is told.

// For each operation: what was tried, in words, and the words for a success worth showing (or null).
const kOperations = {
  savePreset: ['save the preset', 'Saved'],
  deletePreset: ['delete', null],
  saveKit: ['save the kit', 'Kit saved as'],
  loadKit: ['load the kit', null],
  loadTuning: ['load the tuning', null],
  exportNobrel: ['export the preset to', 'Exported to'],
  importNobrel: ['import', null],
};

const fileName = (path) => path.split('/').filter(Boolean).pop() ?? '';

// The notice for an answer: { op, ok, text }, or null when a success needs no words.
export function fileNotice({ op, path, ok, reason }) {
  const [tried, done] = kOperations[op];
  const name = fileName(path);
  if (!ok) return { op, ok, text: `Could not ${tried}${name ? ` ${name}` : ''}: ${reason || 'no reason given'}` };
  return done ? { op, ok, text: `${done} ${name}` } : null;
}

// The answer {op, path, ok, reason}; anything else is ignored.
export function receiveFileResult(editor, result) {
  if (!result || typeof result !== 'object' || !Object.hasOwn(kOperations, result.op) || typeof result.ok !== 'boolean') return;
  const answer = { op: result.op, ok: result.ok, path: typeof result.path === 'string' ? result.path : '',
    reason: typeof result.reason === 'string' ? result.reason : '' };
  editor.set({ fileNotice: fileNotice(answer) });
  if (answer.ok && answer.op === 'savePreset') editor.set({ presetPath: answer.path });
  if (answer.ok && (answer.op === 'savePreset' || answer.op === 'deletePreset')) editor.sender.send('__listPresets', 0);
  // The engine kept the tuning it had, and so does the menu.
  if (!answer.ok && answer.op === 'loadTuning') editor.set({ tuningFile: editor.tuningBeforeChoice ?? null });
}
