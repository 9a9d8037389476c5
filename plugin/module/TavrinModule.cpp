// The module's own translation unit; everything it exports lives in the folder libraries linked whole.
