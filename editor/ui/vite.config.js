// Builds the editor document into one self-contained HTML file (script, style and font data inline).
import { defineConfig } from 'vite';
import { viteSingleFile } from 'vite-plugin-singlefile';

export default defineConfig({
  plugins: [viteSingleFile({ removeViteModuleLoader: true })],
  esbuild: { jsx: 'automatic' },
  logLevel: 'warn',
  build: {
    outDir: process.env.TAVRIN_UI_OUT || 'dist',
    emptyOutDir: true,
    target: 'safari15',
    assetsInlineLimit: 100000000,
    reportCompressedSize: false,
  },
});
