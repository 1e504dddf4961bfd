// The package's declarations for `import`: the same names as `require` gets (index.d.ts), since
// index.mjs re-exports the CommonJS module's.
export * from './index.js';
