// Imported by app.mjs: proves that a module can load another module.
export const greeting = "module-import-ok";
